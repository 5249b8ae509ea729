#include "app/service/watch_options.h"

#include <arpa/inet.h>

#include <string>

#include "app/service/port_number.h"

namespace {

// Letters, digits and what names and addresses are made of; nothing a log
// line or a lookup would take for something else.
bool IsHost(std::string_view host) {
    return !host.empty() && host.size() <= 253 &&
           host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_:%") ==
               std::string_view::npos &&
           host.front() != '-';
}

// Colons belong to IPv6 addresses alone (a zone after '%' allowed).
bool IsAddressOrName(std::string_view host) {
    if (!IsHost(host)) return false;
    if (host.find(':') == std::string_view::npos) return host.find('%') == std::string_view::npos;
    const std::string address(host.substr(0, host.find('%')));
    in6_addr parsed;
    return inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
}

}  // namespace

bool ParseWatchTarget(std::string_view text, TWatchTarget& target) {
    target = TWatchTarget{std::string(text), {}, 0};
    std::string_view host = text;
    if (text.starts_with('[')) {
        const std::size_t end = text.find(']');
        if (end == std::string_view::npos) return false;
        host = text.substr(1, end - 1);
        const std::string_view rest = text.substr(end + 1);
        if (host.find(':') == std::string_view::npos) return false;  // brackets are for IPv6 alone
        if (!rest.empty() && (rest[0] != ':' || !ParsePortNumber(rest.substr(1), target.Port))) return false;
    } else if (const std::size_t colon = text.find(':');
               colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        host = text.substr(0, colon);
        if (!ParsePortNumber(text.substr(colon + 1), target.Port)) return false;
    }
    // A bare IPv6 address (two colons or more) is an ICMP target.
    target.Host = std::string(host);
    return IsAddressOrName(host);
}
