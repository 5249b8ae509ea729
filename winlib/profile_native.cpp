// Our own private-profile reader and writer over TIniDocument. It keeps the
// behaviour of the system's profile functions as measured under Wine, which
// is the reference, where a caller can see it: the buffer a value is copied
// into, the quotes it loses, how an integer is read. Where the system loses
// data we do not: a read-only file is never written (the system under Wine
// writes it when run as root), and a file we cannot read is never replaced.
// A write that changes nothing leaves the file alone.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "winlib/inidocument.h"
#include "winlib/profile.h"

namespace {

// What the system copies into a caller's buffer of `size` characters
// (terminator included): a value in matching quotes loses the opening
// quote; at most size-1 characters are copied; and then, when the rest
// after the opening quote fits in `size`, the last character copied is
// dropped as the closing quote. When the rest is exactly `size` long that
// last character is a real one, so the system loses it; we do the same,
// since callers see what the system gives.
std::u16string CopyValue(std::u16string_view value, std::size_t size) {
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (quoted) value.remove_prefix(1);
    std::u16string out(value.substr(0, size - 1));
    if (quoted && size >= value.size() && !out.empty()) out.pop_back();
    return out;
}

// The integer read uses a buffer of 30 characters.
constexpr std::size_t kIntBufferSize = 30;

std::uint32_t ParseProfileInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsIniBlank(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    std::uint32_t n = 0;  // wraps like the system's
    if (s.substr(i, 2) == "0x") {
        for (i += 2; i < s.size(); ++i) {
            const char c = s[i];
            std::uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                break;
            n = n * 16 + digit;
        }
    } else {
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) n = n * 10 + static_cast<std::uint32_t>(s[i] - '0');
    }
    return negative ? 0u - n : n;
}

const char* OrEmpty(const char* s) { return s ? s : ""; }

// Whole files, as the platform reads and replaces them.
class TWholeFiles final : public TProfileFiles {
public:
    profile_detail::TReadResult Read(const char* path, std::string& bytes) override {
        return profile_detail::ReadWholeFile(path, bytes);
    }
    bool Replace(const char* path, std::string_view bytes) override {
        return profile_detail::ReplaceWholeFile(path, bytes);
    }
};

TProfileFiles& WholeFiles() {
    static TWholeFiles files;
    return files;
}

class TNativeProfileStore final : public TProfileStore {
public:
    TNativeProfileStore(const TCodePage& page, TProfileFiles& files) : codePage_(page), files_(files) {}

    std::string GetString(const char* section, const char* key, const char* defaultValue, const char* file) override {
        const TIniDocument doc = Load(file);
        std::u16string value;
        if (const TIniEntry* entry = Find(doc, section, key); entry && entry->HasValue) {
            value = entry->Value;
        } else {
            // The default loses trailing spaces (only spaces).
            value = codePage_.ToUnicode(OrEmpty(defaultValue));
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        return codePage_.ToAnsi(CopyValue(value, ProfileStringMax + 1));
    }

    std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue, const char* file) override {
        const TIniDocument doc = Load(file);
        const TIniEntry* entry = Find(doc, section, key);
        if (!entry || !entry->HasValue) return defaultValue;
        const std::string text = codePage_.ToAnsi(CopyValue(entry->Value, kIntBufferSize));
        if (text.empty()) return defaultValue;
        return static_cast<std::int32_t>(ParseProfileInt(text));
    }

    bool WriteString(const char* section, const char* key, const char* value, const char* file) override {
        if (!file) return false;
        std::string bytes;
        const profile_detail::TReadResult read = files_.Read(file, bytes);
        // Never replace a file we could not read: its keys would be lost.
        if (read == profile_detail::TReadResult::Failed) return false;
        TIniDocument doc = TIniDocument::Parse(bytes, codePage_);
        const std::u16string sectionName = codePage_.ToUnicode(OrEmpty(section));
        const std::u16string keyName = codePage_.ToUnicode(OrEmpty(key));
        const bool changed = value ? doc.Set(sectionName, keyName, codePage_.ToUnicode(value))
                                   : doc.Delete(sectionName, keyName);
        return !changed || files_.Replace(file, doc.Serialize(codePage_));
    }

private:
    TIniDocument Load(const char* file) const {
        std::string bytes;
        if (!file || files_.Read(file, bytes) != profile_detail::TReadResult::Ok) return TIniDocument{};
        return TIniDocument::Parse(bytes, codePage_);
    }

    const TIniEntry* Find(const TIniDocument& doc, const char* section, const char* key) const {
        return doc.Find(codePage_.ToUnicode(OrEmpty(section)), codePage_.ToUnicode(OrEmpty(key)));
    }

    const TCodePage& codePage_;
    TProfileFiles& files_;
};

}  // namespace

TProfileStore& NativeProfileStore() {
    static TNativeProfileStore store(TCodePage::Cp1251(), WholeFiles());
    return store;
}

std::unique_ptr<TProfileStore> MakeNativeProfileStore(std::uint32_t codePage) {
    return MakeNativeProfileStore(codePage, WholeFiles());
}

std::unique_ptr<TProfileStore> MakeNativeProfileStore(std::uint32_t codePage, TProfileFiles& files) {
    return std::make_unique<TNativeProfileStore>(TCodePage::ById(codePage), files);
}

namespace profile_detail {

// Larger files are not profiles; reading them whole would only exhaust
// memory (think of a device file).
constexpr std::size_t kMaxProfileBytes = 64u << 20;

TReadResult ReadWholeFile(const char* path, std::string& bytes) {
    bytes.clear();
    errno = 0;
    std::FILE* f = OpenForReading(path);
    if (!f) return errno == ENOENT ? TReadResult::Missing : TReadResult::Failed;
    char buffer[8192];
    bool ok = true;
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        bytes.append(buffer, n);
        if (bytes.size() > kMaxProfileBytes) {
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            ok = !std::ferror(f);  // a directory opens but cannot be read
            break;
        }
    }
    std::fclose(f);
    if (!ok) bytes.clear();
    return ok ? TReadResult::Ok : TReadResult::Failed;
}

bool IsTempFileOf(std::string_view fileName, std::string_view targetName, unsigned long& pid) {
    constexpr std::string_view tmp = ".tmp";
    if (fileName.size() <= targetName.size() + tmp.size()) return false;
    if (fileName.substr(0, targetName.size()) != targetName) return false;
    std::string_view rest = fileName.substr(targetName.size());
    if (rest.substr(0, tmp.size()) != tmp) return false;
    rest.remove_prefix(tmp.size());
    auto digits = [&rest](unsigned long& value) {
        std::size_t n = 0;
        value = 0;
        while (n < rest.size() && n < 10 && rest[n] >= '0' && rest[n] <= '9') value = value * 10 + (rest[n++] - '0');
        rest.remove_prefix(n);
        return n > 0;
    };
    unsigned long counter = 0;
    if (!digits(pid) || rest.empty() || rest.front() != '.') return false;
    rest.remove_prefix(1);
    return digits(counter) && rest.empty();
}

}  // namespace profile_detail
