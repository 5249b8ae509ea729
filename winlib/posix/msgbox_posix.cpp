#include <cstdio>
#include <string>

#include "winlib/codepage.h"
#include "winlib/msgbox.h"

namespace {

// Without a desktop to show it on, the box becomes a line on stderr; it is
// "closed" at once.
class TConsoleMessageBox final : public TMessageBoxService {
public:
    int Show(std::string_view text, std::string_view caption, std::uint32_t, void*) override {
        std::string line = Utf8From1251(caption);
        line += ": ";
        for (char c : Utf8From1251(text))
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
