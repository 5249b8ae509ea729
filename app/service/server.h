#pragma once
// The daemon's Unix socket: one JSON request line per connection, one reply
// line. Whoever may connect is a local user in the socket's group, so every
// connection is bounded: its request line must come within a deadline, the
// connections of one user are capped below the total, and a client beyond
// a cap is told "busy" rather than left hanging.
//
// The socket file is the daemon's own: a lock file beside it says which
// daemon serves the path, only a socket is ever removed, and at exit only
// the file this daemon bound.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/service/switchboard.h"
#include "app/service/loop.h"
#include "app/service/result.h"

struct TServerLimits {
    std::size_t MaxClients = 128;
    std::size_t MaxPerUser = 32;  // a quarter: one user cannot take every slot
    std::int64_t RequestDeadlineMs = 5000;
};

class TServer {
public:
    TServer(TEventLoop& loop, TSwitchboard& board, TServerLimits limits = {});
    ~TServer();
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    TResult Listen(const std::string& path);

private:
    struct TConnection;
    TResult Claim(const std::string& path);
    void Accept();
    void Refuse(int fd, const std::string& why);
    void Read(std::uint64_t id);
    void Ask(std::uint64_t id, std::string_view line);
    void Answer(std::uint64_t id, const TReply& reply);
    void Flush(std::uint64_t id);
    void Drop(std::uint64_t id);
    void Sweep();
    TReply Refusal(int code, const std::string& why) const;

    TEventLoop& loop_;
    TSwitchboard& board_;
    TServerLimits limits_;
    int fd_ = -1;
    int lock_ = -1;
    std::string path_;
    dev_t boundDevice_ = 0;
    ino_t boundInode_ = 0;
    std::unique_ptr<TEventLoop::TWatch> listening_;
    std::map<std::uint64_t, std::unique_ptr<TConnection>> connections_;
    std::map<uid_t, std::size_t> perUser_;
    std::uint64_t nextId_ = 1;
    TObjPtr<TTimer> sweep_;  // once a second while anyone is connected: deadlines
};

// Whether the daemon answering on `fd` (a connected Unix socket at `path`)
// may be believed: it runs as this user, as root, or as the owner of the
// socket's directory, who decides what lives there anyway. Anyone else has
// squatted the path. False with the reason.
bool TrustedPeer(int fd, const std::string& path, std::string& why);
