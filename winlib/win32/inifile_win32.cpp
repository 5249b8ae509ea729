#include <windows.h>

#include <string>

#include "winlib/inifile.h"
#include "winlib/win32/wintext.h"

namespace {

// Asks the wide API with a growing buffer, so a folder named in any script
// and deeper than the 260 characters of old comes back whole, as UTF-8.
template <class Query>
std::string AskSystem(Query query) {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (;;) {
        const UINT n = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return NarrowUtf8(buffer);
        }
        if (buffer.size() >= 0x10000) return std::string();
        buffer.resize(n > buffer.size() ? n : buffer.size() * 2);
    }
}

std::string WithBackslash(std::string dir) {
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir;
}

}  // namespace

std::string WindowsDirectory() {
    return WithBackslash(AskSystem([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); }));
}

std::string TempDirectory() {
    return WithBackslash(AskSystem([](wchar_t* b, UINT n) { return static_cast<UINT>(GetTempPathW(n, b)); }));
}

std::string SystemDirectory() {
    return WithBackslash(AskSystem([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); }));
}

namespace inifile_detail {

std::string QueryProgramDirectory() {
    // GetModuleFileNameW answers a short buffer with a cut name of exactly
    // its size, not with the size it needs: AskSystem then grows it.
    const std::string path = AskSystem([](wchar_t* b, UINT n) {
        const DWORD got = GetModuleFileNameW(nullptr, b, n);
        return got >= n ? n : static_cast<UINT>(got);
    });
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool HasLocation(std::string_view name) { return name.find_first_of(":\\") != std::string_view::npos; }

}  // namespace inifile_detail
