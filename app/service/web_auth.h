#pragma once
// The web door's rules, apart from the server: where it listens, which
// Host and Origin a request may carry, how a token is compared, how often
// an address may try one, and the session cookie.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

struct THttpAddress {
    std::string Host = "127.0.0.1";  // a numeric IPv4 or IPv6 address
    int Port = 0;
    bool V6() const { return Host.find(':') != std::string::npos; }
    bool Loopback() const { return Host == "127.0.0.1" || Host.starts_with("127.") || Host == "::1"; }
    bool Any() const { return Host == "0.0.0.0" || Host == "::"; }
};

struct THttpOptions {
    THttpAddress Address;   // Port 0: no web door
    std::string TokenFile;  // empty: a credential "http-token", else one made in the state directory
    std::string TlsCert, TlsKey;
};

// "8080", "127.0.0.1:8080", "0.0.0.0:80", "[::1]:8080", "[::]:8080": a
// numeric address (127.0.0.1 when none is named) and a port of 1–65535.
bool ParseHttpAddress(std::string_view text, THttpAddress& address);

// The Host header of every request: the listening address as written
// (the port may be left out for 80 and 443), "localhost" while listening on
// loopback, and the machine's own names. A name anybody's DNS may point at
// this address is refused: that is how DNS rebinding gets in.
bool HostAllowed(std::string_view host, const THttpAddress& address, bool tls, std::string_view machineName);

// The Origin of a state-changing request: none (a script), or this very
// page's origin.
bool OriginAllowed(std::optional<std::string_view> origin, std::string_view host, bool tls);

// Equal, in a time that does not depend on where they differ.
bool SecretsEqual(std::string_view a, std::string_view b);

// "a=1; modemswitch=XYZ; b=2" -> "XYZ"; empty when there is none.
std::string CookieValue(std::string_view header, std::string_view name);

// Failed logins slow their address down: after each, the address waits
// 1 s, doubling up to 30 s, before the next try counts. Remembers at most
// MaxAddresses addresses (the quietest forgotten first).
class TLoginThrottle {
public:
    static constexpr std::size_t MaxAddresses = 1024;
    // How long `address` must still wait; 0: it may try now.
    std::int64_t WaitMs(const std::string& address, std::int64_t nowMs) const;
    void Failed(const std::string& address, std::int64_t nowMs);
    void Succeeded(const std::string& address) { entries_.erase(address); }

private:
    struct TEntry {
        int Failures = 0;
        std::int64_t NextMs = 0;
    };
    std::map<std::string, TEntry> entries_;
};
