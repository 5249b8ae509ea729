#include <iconv.h>

#include <cstdio>
#include <string>

#include "winlib/msgbox.h"

namespace {

std::string Cp1251ToUtf8(std::string_view s) {
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(s);  // no converter: raw bytes beat nothing
    out.resize(s.size() * 3 + 1);  // a 1251 byte is at most three UTF-8 bytes
    char* in = const_cast<char*>(s.data());
    std::size_t inLeft = s.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1)) break;
        // 0x98 has no character in 1251: show it as '?' and go on.
        if (outLeft == 0) break;
        *dst++ = '?';
        --outLeft;
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// Without a desktop to show it on, the box becomes a line on stderr; it is
// "closed" at once.
class TConsoleMessageBox final : public TMessageBoxService {
public:
    int Show(std::string_view text, std::string_view caption, std::uint32_t, void*) override {
        std::string line = Cp1251ToUtf8(caption);
        line += ": ";
        for (char c : Cp1251ToUtf8(text))
            if (c != '\r') line += c;
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        return idOk;
    }
};

}  // namespace

TMessageBoxService& PlatformMessageBox() {
    static TConsoleMessageBox service;
    return service;
}
