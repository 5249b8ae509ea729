#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {
char Separator() { return static_cast<char>(fs::path::preferred_separator); }
}  // namespace

TTempDir::TTempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path(ec) /
                                   ("msw-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
}

TTempDir::~TTempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Read-only files would stop the removal on Windows.
    for (const auto& entry : fs::recursive_directory_iterator(path_, ec))
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TTempDir::File(std::string_view name) const { return path_ + Separator() + std::string(name); }

int TTempDir::FileCount() const {
    std::error_code ec;
    int n = 0;
    for (auto it = fs::directory_iterator(path_, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) ++n;
    return n;
}

std::string TTempDir::WithSeparator() const { return path_ + Separator(); }

void Spit(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

void SetReadOnly(const std::string& path, bool readOnly) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
}
