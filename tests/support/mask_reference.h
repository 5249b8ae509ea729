#pragma once
// The wildcard match as its definition reads, with 1-based positions: '#'
// a digit, '?' any character, '*' any run, anything else itself. Exponential,
// so for short inputs; the tests and the fuzz target compare MaskMatch with it.

#include <cstddef>
#include <string_view>

inline bool ReferenceMaskMatch(std::string_view t, std::string_view m, std::size_t i, std::size_t j) {
    const auto at = [](std::string_view s, std::size_t p) -> unsigned char { return p >= 1 && p <= s.size() ? s[p - 1] : 0; };
    while (j <= m.size() || i <= t.size()) {
        const unsigned char c = at(m, j);
        const unsigned char s = at(t, i);
        if (c == '*') {
            if (ReferenceMaskMatch(t, m, i, j + 1)) return true;
            if (i >= t.size()) return false;
            while (i < t.size()) {
                ++i;
                if (ReferenceMaskMatch(t, m, i, j + 1)) return true;
            }
            return false;
        }
        const bool ok = c == '#' ? (s >= '0' && s <= '9') : c == '?' ? s != 0 : c == s;
        if (!ok) break;
        ++i;
        ++j;
    }
    return j > m.size() && i > t.size();
}
