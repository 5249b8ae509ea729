#pragma once
// Asks the watchdog's targets whether they are there: an ICMP echo, or a
// TCP connection, all at once and each within the timeout. A name is looked
// up by glibc's asynchronous getaddrinfo, so a slow or dead name server
// never holds up the loop; a name that does not resolve has not answered.

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/service/loop.h"
#include "app/service/watch_options.h"

struct TProbeResult {
    bool Ok = false;
    double RttMs = 0;
    std::string Error;  // why not; empty when it answered
};

class TWatchProber {
public:
    virtual ~TWatchProber() = default;
    using TDone = std::function<void(std::vector<TProbeResult>)>;
    // Asks every target; `done` gets one result a target, in their order,
    // from the loop, once all have answered or the timeout has passed.
    virtual void Round(TDone done) = 0;
    // The round under way ends, and its `done` is never called.
    virtual void Cancel() = 0;
};

// How this process may send ICMP echoes of `family`: the unprivileged
// datagram socket (net.ipv4.ping_group_range), a raw socket (CAP_NET_RAW),
// or not at all.
enum class TIcmpAccess { Datagram, Raw, None };
TIcmpAccess IcmpAccess(int family);

class TNetworkProber final : public TWatchProber {
public:
    TNetworkProber(TEventLoop& loop, std::vector<TWatchTarget> targets, int timeoutMs);
    ~TNetworkProber() override;
    TNetworkProber(const TNetworkProber&) = delete;
    TNetworkProber& operator=(const TNetworkProber&) = delete;

    void Round(TDone done) override;
    void Cancel() override;

    struct TAddress {
        sockaddr_storage Storage{};
        socklen_t Length = 0;
    };

private:
    struct TLookup;
    struct TProbe;
    void Begin(std::size_t index);
    void Launch(std::size_t index, const sockaddr_storage& address, socklen_t length);
    void Echo(std::size_t index, const sockaddr_storage& address, socklen_t length);
    void Connect(std::size_t index, const sockaddr_storage& address, socklen_t length);
    void Received(std::size_t index);
    void Connected(std::size_t index);
    void Settle(std::size_t index, bool ok, std::string error);
    void PollLookups();
    void TimedOut();
    void Complete();

    TEventLoop& loop_;
    std::vector<TWatchTarget> targets_;
    int timeoutMs_;
    std::vector<std::optional<TAddress>> numeric_;   // a target written as an address
    std::vector<std::shared_ptr<TLookup>> lookups_;  // one a target, outliving a round when a lookup is slow
    std::vector<std::unique_ptr<TProbe>> probes_;    // this round's
    std::vector<TProbeResult> results_;
    std::size_t pending_ = 0;
    TDone done_;
    std::uint16_t sequence_ = 0;
    std::uint16_t ident_ = 0;
    TObjPtr<TTimer> timeout_;
    TObjPtr<TTimer> lookupPoll_;  // while a name is being looked up
    std::shared_ptr<TNetworkProber*> self_ = std::make_shared<TNetworkProber*>(this);
};
