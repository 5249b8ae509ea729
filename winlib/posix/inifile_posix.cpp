#include <unistd.h>

#include <cstdlib>
#include <string>

#include "winlib/inifile.h"

namespace {
std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}
}  // namespace

std::string WindowsDirectory() { return "/etc/"; }

std::string TempDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return WithSlash(tmp && *tmp ? tmp : "/tmp");
}

std::string SystemDirectory() { return "/usr/lib/"; }

namespace inifile_detail {

std::string QueryProgramDirectory() {
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            break;
        }
        if (path.size() >= (1u << 20)) return std::string();
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ':' and '\' as on Windows, so scheme names behave alike; '/' because it
// is this platform's separator.
bool HasLocation(std::string_view name) { return name.find_first_of(":\\/") != std::string_view::npos; }

}  // namespace inifile_detail
