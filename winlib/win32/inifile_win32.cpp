#include <windows.h>

#include <string>

#include "winlib/inifile.h"

namespace {

// Asks with a growing buffer: the 260-character limit of old would give a
// cut, wrong directory for a deep path.
template <class Query>
std::string AskSystem(Query query) {
    std::string buffer(MAX_PATH + 1, '\0');
    for (;;) {
        const UINT n = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
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
    return WithBackslash(AskSystem([](char* b, UINT n) { return GetWindowsDirectoryA(b, n); }));
}

std::string TempDirectory() {
    return WithBackslash(AskSystem([](char* b, UINT n) { return static_cast<UINT>(GetTempPathA(n, b)); }));
}

std::string SystemDirectory() {
    return WithBackslash(AskSystem([](char* b, UINT n) { return GetSystemDirectoryA(b, n); }));
}

namespace inifile_detail {

std::string QueryProgramDirectory() {
    // GetModuleFileNameA answers a short buffer with a cut name of exactly
    // its size, not with the size it needs.
    std::string path(MAX_PATH + 1, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::string();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 0x10000) return std::string();
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool HasLocation(std::string_view name) { return name.find_first_of(":\\") != std::string_view::npos; }

}  // namespace inifile_detail
