#pragma once
// A TCP or UDP port as a person writes it: digits only, 1 to 65535.

#include <string_view>

inline bool ParsePortNumber(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
    port = 0;
    for (const char c : text) port = port * 10 + (c - '0');
    return port >= 1 && port <= 65535;
}
