#include "app/service/probe.h"

#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "app/service/clock.h"

namespace {

constexpr std::int32_t LookupPollMs = 20;
constexpr std::size_t EchoPayload = 16;

int IcmpProtocol(int family) { return family == AF_INET6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP); }

int IcmpSocket(int family, bool& raw) {
    const int flags = SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = socket(family, SOCK_DGRAM | flags, IcmpProtocol(family));
    raw = false;
    if (fd < 0) {
        fd = socket(family, SOCK_RAW | flags, IcmpProtocol(family));
        raw = true;
    }
    return fd;
}

// RFC 1071: the ones' complement sum the IPv4 echo carries (the kernel
// fills in ICMPv6's).
std::uint16_t Checksum(const unsigned char* bytes, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2 != 0) sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return htons(static_cast<std::uint16_t>(~sum));
}

std::string Seconds(int ms) {
    const int s = ms / 1000;
    return ms % 1000 == 0 ? std::to_string(s) + (s == 1 ? " second" : " seconds") : std::to_string(ms) + " ms";
}

}  // namespace

TIcmpAccess IcmpAccess(int family) {
    bool raw = false;
    const int fd = IcmpSocket(family, raw);
    if (fd < 0) return TIcmpAccess::None;
    close(fd);
    return raw ? TIcmpAccess::Raw : TIcmpAccess::Datagram;
}

// A lookup under way in glibc's threads. Its memory must stay until glibc
// is done with it, which may be after the prober is gone.
struct TNetworkProber::TLookup {
    gaicb Request{};
    addrinfo Hints{};
    std::string Host;
    std::string Port;
    bool Started = false;
    ~TLookup() {
        if (Request.ar_result != nullptr) freeaddrinfo(Request.ar_result);
    }
    bool Running() const { return Started && gai_error(const_cast<gaicb*>(&Request)) == EAI_INPROGRESS; }
};

struct TNetworkProber::TProbe {
    int Fd = -1;
    std::unique_ptr<TEventLoop::TWatch> Watch;
    double StartedMs = 0;
    bool Done = true;
    bool Raw = false;
    bool WaitsForLookup = false;
    int Family = AF_INET;
    std::uint16_t Sequence = 0;
    void Close() {
        Watch.reset();
        if (Fd >= 0) close(Fd);
        Fd = -1;
    }
    ~TProbe() { Close(); }
};

namespace {

// Lookups glibc could not cancel when their prober went: kept, never
// freed, for the few moments before the process ends. Probers live on the
// loop's thread alone.
std::vector<std::shared_ptr<void>> abandoned;

// The target's address when it is written as one: no lookup, ever.
std::optional<TNetworkProber::TAddress> NumericAddress(const TWatchTarget& target) {
    const std::string port = target.Icmp() ? std::string() : std::to_string(target.Port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | (target.Icmp() ? 0 : AI_NUMERICSERV);
    addrinfo* found = nullptr;
    if (getaddrinfo(target.Host.c_str(), port.empty() ? nullptr : port.c_str(), &hints, &found) != 0) return std::nullopt;
    TNetworkProber::TAddress address;
    std::memcpy(&address.Storage, found->ai_addr, found->ai_addrlen);
    address.Length = found->ai_addrlen;
    freeaddrinfo(found);
    return address;
}

}  // namespace

TNetworkProber::TNetworkProber(TEventLoop& loop, std::vector<TWatchTarget> targets, int timeoutMs)
    : loop_(loop), targets_(std::move(targets)), timeoutMs_(timeoutMs) {
    ident_ = static_cast<std::uint16_t>(getpid() * 7919);
    lookups_.resize(targets_.size());
    for (const TWatchTarget& target : targets_) {
        probes_.push_back(std::make_unique<TProbe>());
        numeric_.push_back(NumericAddress(target));
    }
    timeout_ = NewObj<TTimer>(timeoutMs_);
    timeout_->SetTickHandler({[](void* self, TTimer* timer) {
                                  timer->SetEnabled(false);
                                  static_cast<TNetworkProber*>(self)->TimedOut();
                              },
                              this});
    lookupPoll_ = NewObj<TTimer>(LookupPollMs);
    lookupPoll_->SetTickHandler({[](void* self, TTimer*) { static_cast<TNetworkProber*>(self)->PollLookups(); }, this});
}

TNetworkProber::~TNetworkProber() {
    Cancel();
    for (std::shared_ptr<TLookup>& lookup : lookups_) {
        if (!lookup || !lookup->Running()) continue;
        if (gai_cancel(&lookup->Request) != EAI_CANCELED) abandoned.push_back(lookup);
    }
}

void TNetworkProber::Round(TDone done) {
    Cancel();
    done_ = std::move(done);
    results_.assign(targets_.size(), TProbeResult{});
    pending_ = targets_.size();
    for (auto& probe : probes_) probe->Done = false;
    timeout_->SetEnabled(true);
    for (std::size_t i = 0; i < targets_.size(); ++i) Begin(i);
}

void TNetworkProber::Cancel() {
    timeout_->SetEnabled(false);
    lookupPoll_->SetEnabled(false);
    for (auto& probe : probes_) {
        probe->Close();
        probe->Done = true;
        probe->WaitsForLookup = false;
    }
    pending_ = 0;
    done_ = nullptr;
}

void TNetworkProber::Begin(std::size_t index) {
    if (numeric_[index]) return Launch(index, numeric_[index]->Storage, numeric_[index]->Length);
    const TWatchTarget& target = targets_[index];
    const std::string port = target.Icmp() ? std::string() : std::to_string(target.Port);
    std::shared_ptr<TLookup>& lookup = lookups_[index];
    probes_[index]->WaitsForLookup = true;
    lookupPoll_->SetEnabled(true);
    // A lookup from an earlier round that still runs is waited for, not doubled.
    if (lookup && lookup->Running()) return;
    lookup = std::make_shared<TLookup>();
    lookup->Host = target.Host;
    lookup->Port = port;
    lookup->Hints.ai_family = AF_UNSPEC;
    lookup->Hints.ai_socktype = SOCK_STREAM;
    lookup->Hints.ai_flags = AI_ADDRCONFIG | (target.Icmp() ? 0 : AI_NUMERICSERV);
    lookup->Request.ar_name = lookup->Host.c_str();
    lookup->Request.ar_service = lookup->Port.empty() ? nullptr : lookup->Port.c_str();
    lookup->Request.ar_request = &lookup->Hints;
    gaicb* list[] = {&lookup->Request};
    if (const int rc = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); rc != 0) {
        probes_[index]->WaitsForLookup = false;
        return Settle(index, false, "cannot look up " + target.Host + ": " + gai_strerror(rc));
    }
    lookup->Started = true;
}

void TNetworkProber::PollLookups() {
    bool waiting = false;
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        TProbe& probe = *probes_[i];
        if (!probe.WaitsForLookup) continue;
        const std::shared_ptr<TLookup> lookup = lookups_[i];
        if (lookup->Running()) {
            waiting = true;
            continue;
        }
        probe.WaitsForLookup = false;
        const int rc = gai_error(&lookup->Request);
        const addrinfo* found = lookup->Request.ar_result;
        if (rc != 0 || found == nullptr) {
            Settle(i, false, targets_[i].Host + " does not resolve: " + gai_strerror(rc));
            continue;
        }
        sockaddr_storage address{};
        std::memcpy(&address, found->ai_addr, found->ai_addrlen);
        Launch(i, address, found->ai_addrlen);
    }
    if (!waiting) lookupPoll_->SetEnabled(false);
}

void TNetworkProber::Launch(std::size_t index, const sockaddr_storage& address, socklen_t length) {
    TProbe& probe = *probes_[index];
    probe.Family = address.ss_family;
    probe.StartedMs = SteadyMsFine();
    if (targets_[index].Icmp())
        Echo(index, address, length);
    else
        Connect(index, address, length);
    if (probe.Done) return;
    probe.Watch = loop_.Watch(probe.Fd, targets_[index].Icmp() ? EPOLLIN : EPOLLOUT,
                              [this, index](std::uint32_t) {
                                  if (targets_[index].Icmp()) Received(index);
                                  else Connected(index);
                              });
    if (!probe.Watch) Settle(index, false, "cannot watch the probe's socket");
}

void TNetworkProber::Echo(std::size_t index, const sockaddr_storage& address, socklen_t length) {
    TProbe& probe = *probes_[index];
    probe.Fd = IcmpSocket(probe.Family, probe.Raw);
    const auto fail = [&](const char* what) { Settle(index, false, std::string(what) + ": " + std::strerror(errno)); };
    if (probe.Fd < 0) return fail("cannot make an ICMP socket");
    // Connected: only that host's packets come to this socket.
    if (connect(probe.Fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return Settle(index, false, std::strerror(errno));
    probe.Sequence = ++sequence_;
    unsigned char packet[8 + EchoPayload] = {};
    packet[0] = probe.Family == AF_INET6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
    const std::uint16_t ident = htons(ident_), sequence = htons(probe.Sequence);
    std::memcpy(packet + 4, &ident, 2);
    std::memcpy(packet + 6, &sequence, 2);
    std::memcpy(packet + 8, "modemswitch-echo", EchoPayload);
    if (probe.Family == AF_INET) {
        const std::uint16_t sum = Checksum(packet, sizeof packet);
        std::memcpy(packet + 2, &sum, 2);
    }
    ssize_t sent;
    do sent = send(probe.Fd, packet, sizeof packet, 0);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof packet)) return fail("the echo was not sent");
}

void TNetworkProber::Connect(std::size_t index, const sockaddr_storage& address, socklen_t length) {
    TProbe& probe = *probes_[index];
    probe.Fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe.Fd < 0) return Settle(index, false, std::string("cannot make a socket: ") + std::strerror(errno));
    int rc;
    do rc = connect(probe.Fd, reinterpret_cast<const sockaddr*>(&address), length);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) return Settle(index, true, {});
    if (errno != EINPROGRESS) return Settle(index, false, std::strerror(errno));
}

void TNetworkProber::Received(std::size_t index) {
    TProbe& probe = *probes_[index];
    unsigned char packet[1500];
    for (;;) {
        const ssize_t n = recv(probe.Fd, packet, sizeof packet, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        // An ICMP error the kernel matched to the echo (host unreachable).
        if (n < 0) return Settle(index, false, std::strerror(errno));
        std::size_t offset = 0;
        // A raw IPv4 socket gets the IP header too.
        if (probe.Raw && probe.Family == AF_INET) {
            if (n < 1) continue;
            offset = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
        }
        if (static_cast<std::size_t>(n) < offset + 8) continue;
        const unsigned char* icmp = packet + offset;
        const unsigned char reply = probe.Family == AF_INET6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
        std::uint16_t ident, sequence;
        std::memcpy(&ident, icmp + 4, 2);
        std::memcpy(&sequence, icmp + 6, 2);
        // A raw socket sees every echo of that host, our own request to a
        // local address among them; a datagram socket's identifier is the kernel's.
        if (icmp[0] != reply || ntohs(sequence) != probe.Sequence || (probe.Raw && ntohs(ident) != ident_)) continue;
        return Settle(index, true, {});
    }
}

void TNetworkProber::Connected(std::size_t index) {
    TProbe& probe = *probes_[index];
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(probe.Fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error == 0) return Settle(index, true, {});
    Settle(index, false, std::strerror(error));
}

void TNetworkProber::Settle(std::size_t index, bool ok, std::string error) {
    TProbe& probe = *probes_[index];
    if (probe.Done) return;
    probe.Done = true;
    results_[index] = TProbeResult{ok, ok ? SteadyMsFine() - probe.StartedMs : 0, std::move(error)};
    // Safe inside the probe's own handler: the loop keeps a running handler alive.
    probe.Close();
    if (--pending_ > 0) return;
    timeout_->SetEnabled(false);
    lookupPoll_->SetEnabled(false);
    // Whoever is told may start the next round, or end this prober: not
    // from inside a probe's handler.
    if (!loop_.Post([self = std::weak_ptr<TNetworkProber*>(self_)] {
            if (const auto prober = self.lock()) (*prober)->Complete();
        }))
        Complete();
}

void TNetworkProber::TimedOut() {
    for (std::size_t i = 0; i < probes_.size(); ++i) {
        if (probes_[i]->Done) continue;
        const bool lookingUp = probes_[i]->WaitsForLookup;
        probes_[i]->WaitsForLookup = false;
        Settle(i, false, lookingUp ? "the lookup of " + targets_[i].Host + " took longer than " + Seconds(timeoutMs_)
                                   : "no answer within " + Seconds(timeoutMs_));
    }
}

void TNetworkProber::Complete() {
    if (pending_ > 0 || !done_) return;
    TDone done = std::move(done_);
    done_ = nullptr;
    done(std::move(results_));
}
