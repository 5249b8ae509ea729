#include "app/service/web_auth.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "app/service/port_number.h"

namespace {

bool Numeric(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(host.find(':') != std::string::npos ? AF_INET6 : AF_INET, host.c_str(), buffer) == 1;
}

std::string Lower(std::string_view text) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "name:port" -> name and port; "[v6]:port" -> v6 and port; no port: 0.
bool SplitHost(std::string_view text, std::string& name, int& port) {
    port = 0;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        name = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return true;
        return rest.starts_with(':') && ParsePortNumber(rest.substr(1), port);
    }
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        name = std::string(text);
        return !name.empty();
    }
    name = std::string(text.substr(0, colon));
    return !name.empty() && name.find(':') == std::string::npos && ParsePortNumber(text.substr(colon + 1), port);
}

}  // namespace

bool ParseHttpAddress(std::string_view text, THttpAddress& address) {
    address = THttpAddress{};
    if (text.find_first_of(" \t\r\n") != std::string_view::npos) return false;
    if (text.find_first_not_of("0123456789") == std::string_view::npos) return ParsePortNumber(text, address.Port);
    std::string host;
    int port = 0;
    if (!SplitHost(text, host, port) || port == 0 || !Numeric(host)) return false;
    address.Host = host;
    address.Port = port;
    return true;
}

bool HostAllowed(std::string_view host, const THttpAddress& address, bool tls, std::string_view machineName) {
    std::string name;
    int port = 0;
    if (host.size() > 255 || !SplitHost(host, name, port)) return false;
    const int standard = tls ? 443 : 80;
    if (port != address.Port && !(port == 0 && address.Port == standard)) return false;
    name = Lower(name);
    if (name == "localhost") return address.Loopback() || address.Any();
    if (!machineName.empty() && (name == Lower(machineName) || name == Lower(machineName) + ".local"))
        return !address.Loopback();
    if (!Numeric(name)) return false;
    // An address literal reaches only where the daemon listens.
    return address.Any() || name == address.Host;
}

bool OriginAllowed(std::optional<std::string_view> origin, std::string_view host, bool tls) {
    if (!origin) return true;
    return Lower(*origin) == std::string(tls ? "https://" : "http://") + Lower(host);
}

bool SecretsEqual(std::string_view a, std::string_view b) {
    // The length is no secret; the bytes are compared all the way.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned char>(x ^ y);
    }
    return difference == 0;
}

std::string CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t end = std::min(header.find(';'), header.size());
        std::string_view pair = header.substr(0, end);
        header.remove_prefix(std::min(end + 1, header.size()));
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
    }
    return {};
}

std::int64_t TLoginThrottle::WaitMs(const std::string& address, std::int64_t nowMs) const {
    const auto it = entries_.find(address);
    return it == entries_.end() ? 0 : std::max<std::int64_t>(0, it->second.NextMs - nowMs);
}

void TLoginThrottle::Failed(const std::string& address, std::int64_t nowMs) {
    if (entries_.size() >= MaxAddresses && entries_.find(address) == entries_.end()) {
        const auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                             [](const auto& a, const auto& b) { return a.second.NextMs < b.second.NextMs; });
        entries_.erase(oldest);
    }
    TEntry& e = entries_[address];
    e.Failures = std::min(e.Failures + 1, 16);
    e.NextMs = nowMs + std::min<std::int64_t>(30000, std::int64_t{1000} << std::min(e.Failures - 1, 5));
}
