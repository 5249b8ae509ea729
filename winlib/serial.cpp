#include "winlib/serial.h"

#include <charconv>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

// A plain decimal number: digits only, no sign, no leading zero.
bool ParseDecimal(std::string_view s, std::int32_t& n) {
    if (s.empty() || (s.size() > 1 && s[0] == '0')) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    return ec == std::errc() && end == s.data() + s.size();
}

bool ParseSetting(std::string_view key, std::string_view value, TSerialSettings& out) {
    if (EqualNoCase(key, "baud")) {
        std::int32_t baud = 0;
        if (!ParseDecimal(value, baud) || baud <= 0) return false;
        out.Baud = baud;
        return true;
    }
    if (EqualNoCase(key, "parity")) {
        if (value.size() != 1) return false;
        const char letter = Upper(value[0]);
        if (std::string_view("NOEMS").find(letter) == std::string_view::npos) return false;
        out.Parity = letter;
        return true;
    }
    if (EqualNoCase(key, "data")) {
        if (value.size() != 1 || value[0] < '5' || value[0] > '8') return false;
        out.DataBits = value[0] - '0';
        return true;
    }
    if (EqualNoCase(key, "stop")) {
        if (value == "1") out.StopBits = 10;
        else if (value == "1.5") out.StopBits = 15;
        else if (value == "2") out.StopBits = 20;
        else return false;
        return true;
    }
    if (EqualNoCase(key, "octs")) {
        if (EqualNoCase(value, "on")) out.OutCtsFlow = 1;
        else if (EqualNoCase(value, "off")) out.OutCtsFlow = 0;
        else return false;
        return true;
    }
    return false;
}

}  // namespace

std::int32_t SerialPortNumber(std::string_view deviceName) {
    std::string_view s = deviceName;
    if (s.substr(0, 4) == "\\\\.\\") s.remove_prefix(4);
    if (!StartsNoCase(s, "com")) return 0;
    s.remove_prefix(3);
    std::int32_t n = 0;
    return ParseDecimal(s, n) ? n : 0;
}

bool ParseSerialDefinition(std::string_view text, TSerialSettings& settings) {
    TSerialSettings parsed;
    bool any = false;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
        const std::string_view item = text.substr(i, end - i);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos || !ParseSetting(item.substr(0, eq), item.substr(eq + 1), parsed))
            return false;
        any = true;
        i = end;
    }
    if (!any) return false;
    settings = parsed;
    return true;
}
