#include <charconv>
#include <string_view>

#include "tests/support/serial_pty.h"

namespace {

bool IsSeparator(char c) { return c == ' ' || c == ';' || c == '\n' || c == '\r' || c == '\t'; }

}  // namespace

bool ParseSttySettings(std::string_view text, TPortReadback& out) {
    TPortReadback r;
    r.OutCtsFlow = false;
    bool speed = false, size = false, parity = false, odd = false, mark = false;
    // Raw needs every one of these named and switched off.
    bool rawOff[8] = {};
    constexpr std::string_view rawFlags[8] = {"icanon", "echo", "isig", "iexten", "opost", "icrnl", "ixon", "istrip"};
    std::string_view previous;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSeparator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        const std::string_view word = text.substr(i, end - i);
        i = end;
        if (previous == "speed") {
            int baud = 0;
            const auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), baud);
            speed = ec == std::errc() && p == word.data() + word.size() && baud > 0;
            if (speed) r.Baud = baud;
        }
        previous = word;
        const bool off = word.starts_with('-');
        const std::string_view flag = off ? word.substr(1) : word;
        if (flag.size() == 3 && flag.starts_with("cs") && flag[2] >= '5' && flag[2] <= '8' && !off) {
            r.DataBits = flag[2] - '0';
            size = true;
        } else if (flag == "parenb") {
            parity = !off;
        } else if (flag == "parodd") {
            odd = !off;
        } else if (flag == "cmspar") {
            mark = !off;
        } else if (flag == "cstopb") {
            r.StopBits = off ? 10 : 20;
        } else if (flag == "crtscts") {
            r.OutCtsFlow = !off;
        }
        for (int k = 0; k < 8; ++k)
            if (flag == rawFlags[k]) rawOff[k] = off;
    }
    if (!speed || !size) return false;
    r.Parity = !parity ? 'N' : mark ? (odd ? 'M' : 'S') : (odd ? 'O' : 'E');
    if (r.StopBits == 0) r.StopBits = 10;
    r.Raw = true;
    for (bool b : rawOff) r.Raw = r.Raw && b;
    out = r;
    return true;
}
