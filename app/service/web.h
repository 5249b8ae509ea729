#pragma once
// The web door: the switch page and an HTTP API for scripts, served by
// GNU libmicrohttpd on the daemon's own event loop (its epoll descriptor
// watched there, nothing threaded), so a slow client never holds up the
// switching. Everything but the page's shell needs the token: as a Bearer
// header from scripts, or the session cookie the page gets at its login.

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/service/loop.h"
#include "app/service/result.h"
#include "app/service/switchboard.h"
#include "app/service/web_auth.h"
#include "winlib/timer.h"

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

class TWebDoor {
public:
    TWebDoor(TEventLoop& loop, TSwitchboard& board, THttpOptions options, std::string stateDir);
    ~TWebDoor();
    TWebDoor(const TWebDoor&) = delete;
    TWebDoor& operator=(const TWebDoor&) = delete;

    // The token, the certificate and the listening socket; fails when any
    // cannot be had.
    TResult Start();
    // Something changed: the open pages hear of it.
    void Publish();
    // Before the daemon ends: every stream and waiting request let go.
    void Stop();

    struct TExchange;
    struct TStream;

private:
    friend struct TWebCallbacks;
    TResult LoadToken();
    int Handle(MHD_Connection* connection, const std::string& url, const std::string& method,
               const char* upload, std::size_t* uploadSize, TExchange& exchange);
    int Api(MHD_Connection* connection, const std::string& url, const std::string& method, TExchange& exchange);
    int Events(MHD_Connection* connection);
    int Login(MHD_Connection* connection, const TExchange& exchange);
    bool Authorized(MHD_Connection* connection) const;
    std::string StatusText() const;
    void Run();
    void Tick();
    void WakeStreams();

    TEventLoop& loop_;
    TSwitchboard& board_;
    THttpOptions options_;
    std::string stateDir_, token_, machineName_;
    bool tls_ = false;
    std::string cert_, key_;
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<TEventLoop::TWatch> watch_;
    TObjPtr<TTimer> tick_;  // once a second: time-outs, pulse time left, keep-alives
    int ticks_ = 0;
    std::deque<std::string> sessions_;  // the page's logins, oldest first (at most MaxSessions)
    TLoginThrottle throttle_;
    std::set<TExchange*> waiting_;  // suspended for the switching's answer
    std::set<TStream*> streams_;
    std::string lastStatus_;
    bool stopping_ = false;
    bool runPosted_ = false;
};
