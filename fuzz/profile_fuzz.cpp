// Arbitrary bytes as a profile file for our own store: reads never crash
// or hang, a write reads back as written, and a write leaves the values of
// every other key of a named section as they were.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "winlib/profile.h"

namespace {

std::string Scratch() {
    namespace fs = std::filesystem;
    static const std::string file = [] {
        std::error_code ec;
        // In memory where there is such a place: every write syncs the file.
        const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path(ec);
        const fs::path dir = base / ("msw-profile-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(dir, ec);
        return (dir / "f.ini").string();
    }();
    return file;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return std::string(s);
}

bool SameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Section and key names as they appear in the bytes, plus a few fixed ones.
std::vector<std::pair<std::string, std::string>> Names(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out{{"s", "k"}, {"", "k"}, {"fz", "other"}};
    std::string section;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size() && out.size() < 24; ++i) {
        if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
        const std::string line = Trimmed(text.substr(start, i - start));
        start = i + 1;
        if (line.empty()) continue;
        if (line.front() == '[' && line.find(']') != std::string::npos) {
            section = Trimmed(std::string_view(line).substr(1, line.rfind(']') - 1));
            continue;
        }
        out.emplace_back(section, Trimmed(line.substr(0, line.find('='))));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string file = Scratch();
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));

    TProfileStore& store = NativeProfileStore();
    const auto names = Names(bytes);
    std::vector<std::string> before;
    for (const auto& [section, key] : names) {
        before.push_back(store.GetString(section.c_str(), key.c_str(), "\x01", file.c_str()));
        if (before.back().size() > ProfileStringMax) std::abort();
        (void)store.GetInt(section.c_str(), key.c_str(), 0, file.c_str());
    }

    // A value the bytes choose, from letters and digits only: blanks, quotes
    // and line breaks would not survive as themselves.
    std::string value;
    for (std::size_t i = 0; i < size && i < 40; ++i) {
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_.";
        value.push_back(alphabet[data[i] % (sizeof alphabet - 1)]);
    }
    if (!store.WriteString("fz", "fuzzkey", value.c_str(), file.c_str())) std::abort();
    if (store.GetString("fz", "fuzzkey", "\x01", file.c_str()) != value) std::abort();

    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& [section, key] = names[i];
        // Lines that belong to "" may merge with a later "[]" section when
        // the file is rewritten, as the system's own writer does.
        if (section.c_str()[0] == '\0') continue;
        if (SameAscii(section.c_str(), "fz") && SameAscii(key.c_str(), "fuzzkey")) continue;
        if (store.GetString(section.c_str(), key.c_str(), "\x01", file.c_str()) != before[i]) std::abort();
    }

    // A delete makes the key read as the default again, unless a duplicate
    // further down now answers.
    (void)store.WriteString("fz", "fuzzkey", nullptr, file.c_str());
    return 0;
}
