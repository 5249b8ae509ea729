#include "app/service/server.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/service/clock.h"
#include "app/service/log.h"

namespace {

// A request is one short line; anything longer is not one.
constexpr std::size_t MaxRequest = 4096;

bool AddressOf(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int CodeFor(int error) { return error == EACCES || error == EPERM ? exitDenied : exitUnavailable; }

}  // namespace

struct TServer::TConnection {
    int Fd = -1;
    uid_t User = 0;
    std::string Input;
    std::string Output;
    bool Asked = false;
    std::int64_t Deadline = 0;
    std::unique_ptr<TEventLoop::TWatch> Watch;
    ~TConnection() {
        Watch.reset();
        if (Fd >= 0) close(Fd);
    }
};

bool TrustedPeer(int fd, const std::string& path, std::string& why) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        why = std::string("cannot tell who serves ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (peer.uid == 0 || peer.uid == getuid() || peer.uid == geteuid()) return true;
    // The owner of the socket's directory, when that directory was given to
    // it (as the unit's runtime directory is) rather than made by whoever
    // came first in a place everyone may write, such as /tmp.
    const std::string directory = DirectoryOf(path);
    struct stat dir, parent;
    if (lstat(directory.c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) && dir.st_uid == peer.uid &&
        lstat(DirectoryOf(directory).c_str(), &parent) == 0 && (parent.st_mode & S_IWOTH) == 0)
        return true;
    why = path + " is served by uid " + std::to_string(peer.uid) +
          ", neither this user, root nor the owner its directory was given to: not believed";
    return false;
}

TServer::TServer(TEventLoop& loop, TSwitchboard& board, TServerLimits limits)
    : loop_(loop), board_(board), limits_(limits) {
    sweep_ = NewObj<TTimer>(1000);
    sweep_->SetTickHandler({[](void* self, TTimer*) { static_cast<TServer*>(self)->Sweep(); }, this});
}

TServer::~TServer() {
    sweep_->SetEnabled(false);
    connections_.clear();
    listening_.reset();
    if (fd_ >= 0) {
        close(fd_);
        // Only the file this daemon bound: another may have taken the path since.
        struct stat st;
        if (lstat(path_.c_str(), &st) == 0 && st.st_dev == boundDevice_ && st.st_ino == boundInode_)
            unlink(path_.c_str());
    }
    if (lock_ >= 0) close(lock_);
}

// The path becomes ours: the lock beside it, then what stands there
// removed only when it is a socket nobody answers on.
TResult TServer::Claim(const std::string& path) {
    const std::string lockPath = path + ".lock";
    lock_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (lock_ < 0) {
        const int e = errno;
        return TResult::Fail(CodeFor(e), "cannot make the lock " + lockPath + ": " + std::strerror(e));
    }
    struct stat st;
    if (fstat(lock_, &st) != 0 || !S_ISREG(st.st_mode))
        return TResult::Fail(exitUsage, lockPath + " is not a regular file: not used");
    if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e == EWOULDBLOCK) return TResult::Fail(exitBusy, "another daemon serves " + path);
        return TResult::Fail(exitUnavailable, "cannot lock " + lockPath + ": " + std::strerror(e));
    }
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return TResult::Ok();
        const int e = errno;
        return TResult::Fail(CodeFor(e), path + ": " + std::strerror(e));
    }
    if (!S_ISSOCK(st.st_mode)) return TResult::Fail(exitUsage, path + " is not a socket: not removed");
    // A daemon that took no lock may still answer there.
    sockaddr_un address;
    AddressOf(path, address);
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool alive = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) close(probe);
    if (alive) return TResult::Fail(exitBusy, "another daemon serves " + path);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        const int e = errno;
        return TResult::Fail(CodeFor(e), "cannot remove the stale socket " + path + ": " + std::strerror(e));
    }
    return TResult::Ok();
}

TResult TServer::Listen(const std::string& path) {
    sockaddr_un address;
    if (!AddressOf(path, address)) return TResult::Fail(exitUsage, "socket path too long: " + path);
    if (TResult claimed = Claim(path); !claimed) return claimed;
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return TResult::Fail(exitIoError, std::string("cannot make a socket: ") + std::strerror(errno));
    // Who may use the modem's port may switch it: owner and group, made so
    // by the bind itself, whatever the unit's umask.
    const mode_t old = umask(0117);
    const int bound = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int e = errno;
    umask(old);
    if (bound != 0) return TResult::Fail(CodeFor(e), "cannot make the socket " + path + ": " + std::strerror(e));
    path_ = path;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return TResult::Fail(exitUnavailable, "the socket " + path + " vanished: " + std::strerror(errno));
    boundDevice_ = st.st_dev;
    boundInode_ = st.st_ino;
    if (const group* g = getgrnam("dialout"); g != nullptr && st.st_gid != g->gr_gid &&
                                             fchownat(AT_FDCWD, path.c_str(), static_cast<uid_t>(-1), g->gr_gid,
                                                      AT_SYMLINK_NOFOLLOW) != 0)
        Log("the socket " + path + " stays in its own group, not dialout: " + std::strerror(errno));
    // A burst of clients waits in the backlog rather than being refused.
    if (listen(fd_, SOMAXCONN) != 0) return TResult::Fail(exitIoError, std::string("listen: ") + std::strerror(errno));
    listening_ = loop_.Watch(fd_, EPOLLIN, [this](std::uint32_t) { Accept(); });
    if (!listening_) return TResult::Fail(exitIoError, "cannot watch the socket " + path);
    return TResult::Ok();
}

TReply TServer::Refusal(int code, const std::string& why) const { return TReply{code, why, board_.Status(), {}}; }

void TServer::Refuse(int fd, const std::string& why) {
    // The client reads this before it finds the connection closed.
    const std::string line = ReplyLine(Refusal(exitBusy, why));
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EPIPE)
        Log(std::string("could not tell a client it was refused: ") + std::strerror(errno));
    close(fd);
}

void TServer::Accept() {
    for (;;) {
        const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) Log(std::string("accept: ") + std::strerror(errno));
            return;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            close(fd);
            continue;
        }
        if (connections_.size() >= limits_.MaxClients) {
            Refuse(fd, "busy: " + std::to_string(limits_.MaxClients) + " clients are connected; try again");
            continue;
        }
        if (perUser_[peer.uid] >= limits_.MaxPerUser) {
            Refuse(fd, "busy: uid " + std::to_string(peer.uid) + " has " + std::to_string(limits_.MaxPerUser) +
                           " connections open already");
            continue;
        }
        const std::uint64_t id = nextId_++;
        auto connection = std::make_unique<TConnection>();
        connection->Fd = fd;
        connection->User = peer.uid;
        connection->Deadline = SteadyMs() + limits_.RequestDeadlineMs;
        connection->Watch = loop_.Watch(fd, EPOLLIN, [this, id](std::uint32_t events) {
            if (events & EPOLLOUT) return Flush(id);
            Read(id);
        });
        if (!connection->Watch) {
            Log("cannot watch a client's connection");
            continue;  // the connection closes with its object
        }
        ++perUser_[peer.uid];
        connections_[id] = std::move(connection);
        sweep_->SetEnabled(true);
    }
}

void TServer::Read(std::uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    TConnection& c = *it->second;
    char buffer[1024];
    for (;;) {
        const ssize_t n = read(c.Fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0) return Drop(id);
        if (n == 0) {
            // The client said all it will: what it sent is its request,
            // and it still gets the reply.
            if (c.Input.empty()) return Drop(id);
            const std::string line = std::move(c.Input);
            return Ask(id, line);
        }
        c.Input.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = c.Input.find('\n');
        if (end != std::string::npos) {
            const std::string line = c.Input.substr(0, end);
            return Ask(id, line);
        }
        if (c.Input.size() > MaxRequest) {
            c.Asked = true;
            c.Watch->Disable();
            return Answer(id, Refusal(exitUsage, "request too long"));
        }
    }
}

void TServer::Ask(std::uint64_t id, std::string_view line) {
    TConnection& c = *connections_.at(id);
    // One request per connection: nothing more is read from it.
    c.Asked = true;
    c.Input.clear();
    c.Watch->Disable();
    TRequest request;
    if (!ParseRequestLine(line, request)) return Answer(id, Refusal(exitUsage, "malformed request"));
    board_.Submit(request, [this, id](const TReply& reply) { Answer(id, reply); });
}

void TServer::Answer(std::uint64_t id, const TReply& reply) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;  // gone before its answer: nobody to tell
    it->second->Output = ReplyLine(reply);
    it->second->Deadline = SteadyMs() + limits_.RequestDeadlineMs;
    Flush(id);
}

void TServer::Flush(std::uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    TConnection& c = *it->second;
    while (!c.Output.empty()) {
        const ssize_t n = send(c.Fd, c.Output.data(), c.Output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A client that does not read: the rest when it can take it, or
            // the connection goes at its deadline.
            if (!c.Watch->Want(EPOLLOUT)) return Drop(id);
            return;
        }
        if (n <= 0) return Drop(id);  // EPIPE: the client went
        c.Output.erase(0, static_cast<std::size_t>(n));
    }
    Drop(id);
}

// Later, from the loop: this may run inside the connection's own handler.
void TServer::Drop(std::uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    TConnection& c = *it->second;
    c.Watch->Disable();
    if (c.Fd >= 0) {
        close(c.Fd);
        c.Fd = -1;
        if (--perUser_[c.User] == 0) perUser_.erase(c.User);
    }
    // When nothing can be posted the sweep takes it away.
    if (!loop_.Post([this, id] { connections_.erase(id); })) sweep_->SetEnabled(true);
}

void TServer::Sweep() {
    const std::int64_t now = SteadyMs();
    for (auto it = connections_.begin(); it != connections_.end();) {
        const std::uint64_t id = it->first;
        TConnection* c = it->second.get();
        if (c->Fd < 0) {
            it = connections_.erase(it);
            continue;
        }
        ++it;
        if (now < c->Deadline) continue;
        if (!c->Asked) {
            c->Asked = true;
            c->Watch->Disable();
            Answer(id, Refusal(exitUsage, "no request line within " + std::to_string(limits_.RequestDeadlineMs / 1000) + " s"));
        } else if (!c->Output.empty()) {
            Drop(id);  // its reply was never taken
        }
    }
    if (connections_.empty()) sweep_->SetEnabled(false);
}
