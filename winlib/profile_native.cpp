// Our own private-profile reader and writer. It keeps the behaviour of the
// system's profile functions as measured under Wine, which is the reference:
//
// - A file is read as lines (CR, LF or CRLF). Each line is trimmed of
//   blanks (space, tab, CR, LF, VT, FF); empty lines are dropped.
// - "[name]" opens a section; the name runs to the last ']' on the line and
//   is trimmed. A '[' line without ']' is an ordinary key line.
// - A key line is "name=value" split at the first '=', both halves trimmed;
//   a line without '=' is a key with no value (it reads as the default).
//   ';' lines are not special: they are keys like any other.
// - Lines before the first section belong to a section named "".
// - Names match ignoring the case of ASCII letters only; a name given to a
//   call is trimmed first. Of duplicate sections or keys the first wins,
//   except that a delete removes the first such key in any of the sections.
// - A value enclosed in a pair of equal quotes (" or ') is read without
//   them; see CopyValue for how that meets the buffer size.
// - A write rewrites the whole file from what was read: CRLF line ends,
//   "name=value" without blanks, empty lines gone, everything else (order,
//   duplicates, comment lines) kept. A write that changes nothing, or a
//   delete of a missing key, leaves the file alone.
// - Where the system loses data we do not: a section named "" after other
//   sections is written with its "[]" (see Serialize), and a read-only file
//   is never written (the system under Wine writes it when run as root).
//
// Internally text is UTF-16 like the system's own; ANSI names and values are
// converted with the code page, and a file keeps the encoding it came in.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "winlib/cp1251.h"
#include "winlib/profile.h"

namespace {

// Upper halves of the two ANSI code pages we know. Bytes without a
// character map to the code point of the same value, as the system does,
// so any byte survives a round trip.
constexpr const std::array<char16_t, 128>& kCp1251 = Cp1251Upper;

constexpr std::array<char16_t, 128> kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

class TCodePage {
public:
    explicit TCodePage(const std::array<char16_t, 128>& high) : high_(high) {
        for (int i = 0; i < 128; ++i) reverse_[i] = {high[i], static_cast<unsigned char>(0x80 + i)};
        std::sort(reverse_.begin(), reverse_.end());
    }

    std::u16string ToUnicode(std::string_view ansi) const {
        std::u16string out;
        out.reserve(ansi.size());
        for (unsigned char c : ansi) out.push_back(c < 0x80 ? char16_t(c) : high_[c - 0x80]);
        return out;
    }

    // One byte per UTF-16 unit; '?' for characters the page lacks (so a
    // surrogate pair gives two).
    std::string ToAnsi(std::u16string_view text) const {
        std::string out;
        out.reserve(text.size());
        for (char16_t u : text) {
            if (u < 0x80) {
                out.push_back(static_cast<char>(u));
                continue;
            }
            auto it = std::lower_bound(reverse_.begin(), reverse_.end(), std::pair<char16_t, unsigned char>(u, 0));
            out.push_back(it != reverse_.end() && it->first == u ? static_cast<char>(it->second) : '?');
        }
        return out;
    }

private:
    const std::array<char16_t, 128>& high_;
    std::array<std::pair<char16_t, unsigned char>, 128> reverse_{};
};

// --- Encodings of a file ---

enum class TEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

constexpr char16_t kReplacement = 0xFFFD;

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// UTF-8 with the system's error handling: a byte that cannot start a
// character is one U+FFFD; a start byte followed by a continuation byte
// outside its allowed range (overlong forms, surrogates, beyond U+10FFFF)
// is one U+FFFD for the two; a character cut short is one U+FFFD for what
// there was of it.
std::u16string DecodeUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        char32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        }
        if (length == 0 || i + 1 >= s.size() || !IsContinuation(static_cast<unsigned char>(s[i + 1]))) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        const unsigned char second = static_cast<unsigned char>(s[i + 1]);
        if (second < low || second > high) {
            out.push_back(kReplacement);
            i += 2;
            continue;
        }
        cp = (cp << 6) | (second & 0x3F);
        std::size_t j = i + 2;
        for (int k = 2; k < length; ++k, ++j) {
            if (j >= s.size() || !IsContinuation(static_cast<unsigned char>(s[j]))) break;
            cp = (cp << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
        }
        if (j - i < static_cast<std::size_t>(length)) {
            out.push_back(kReplacement);
        } else {
            AppendCodePoint(out, cp);
        }
        i = j;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// A lone surrogate has no UTF-8 form: it is written as U+FFFD.
void EncodeUtf8(std::string& out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
}

// --- The file as the profile functions see it ---

struct TEntry {
    std::u16string Name;
    std::u16string Value;
    bool HasValue = false;  // false: a line without '='
};

struct TSection {
    std::u16string Name;
    std::vector<TEntry> Entries;
};

struct TDocument {
    TEncoding Encoding = TEncoding::Ansi;
    // Sections[0] holds the lines before the first header; it has no header
    // of its own and always exists.
    std::vector<TSection> Sections = std::vector<TSection>(1);
};

bool IsBlank(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

// Names and values are zero-terminated strings to the system: a zero
// character read from a file ends them there. Trimmed again after the cut,
// so that what we write back reads back the same.
std::u16string UpToZero(std::u16string_view s) { return std::u16string(Trim(s.substr(0, s.find(char16_t(0))))); }

char16_t FoldAscii(char16_t c) { return (c >= 'a' && c <= 'z') ? char16_t(c - 'a' + 'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

void ParseLine(TDocument& doc, std::u16string_view raw) {
    const std::u16string_view line = Trim(raw);
    if (line.empty()) return;
    if (line.front() == '[') {
        const std::size_t close = line.rfind(']');
        if (close != std::u16string_view::npos) {
            doc.Sections.push_back(TSection{UpToZero(Trim(line.substr(1, close - 1))), {}});
            return;
        }
    }
    TEntry entry;
    const std::size_t eq = line.find('=');
    if (eq == std::u16string_view::npos) {
        entry.Name = UpToZero(line);
        // Nothing we could write back: such a line would vanish on the next
        // write and let a later "=value" line answer for the name "".
        if (entry.Name.empty()) return;
    } else {
        entry.Name = UpToZero(Trim(line.substr(0, eq)));
        entry.Value = UpToZero(Trim(line.substr(eq + 1)));
        entry.HasValue = true;
    }
    doc.Sections.back().Entries.push_back(std::move(entry));
}

TDocument Parse(std::string_view bytes, const TCodePage& codePage) {
    TDocument doc;
    std::u16string text;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        doc.Encoding = TEncoding::Utf8;
        text = DecodeUtf8(bytes.substr(3));
    } else if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        doc.Encoding = little ? TEncoding::Utf16Le : TEncoding::Utf16Be;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {  // an odd last byte is no character
            const auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
            text.push_back(little ? char16_t(b0 | (b1 << 8)) : char16_t((b0 << 8) | b1));
        }
    } else {
        text = codePage.ToUnicode(bytes);
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            ParseLine(doc, std::u16string_view(text).substr(start, i - start));
            start = i + 1;
        }
    }
    return doc;
}

std::string Serialize(const TDocument& doc, const TCodePage& codePage) {
    std::u16string text;
    // The section the lines written so far belong to.
    std::u16string_view open;
    for (std::size_t i = 0; i < doc.Sections.size(); ++i) {
        const TSection& section = doc.Sections[i];
        // A section named "" gets no "[]" while the lines before it belong
        // to "" anyway, as the system does. After a named section it keeps
        // its "[]": the system drops it there too, which moves its keys
        // into that other section; we do not.
        if (i > 0 && !(section.Name.empty() && open.empty())) {
            text += u"[" + section.Name + u"]\r\n";
            open = section.Name;
        }
        for (const TEntry& entry : section.Entries) {
            text += entry.Name;
            if (entry.HasValue) text += u"=" + entry.Value;
            text += u"\r\n";
        }
    }
    std::string bytes;
    switch (doc.Encoding) {
        case TEncoding::Ansi:
            bytes = codePage.ToAnsi(text);
            // ANSI text that starts like a byte-order mark ("\xFF\xFE" is
            // "яю" in 1251) would be read back as another encoding; an empty
            // first line, which readers skip, keeps it ANSI.
            if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xEF\xBB\xBF"))
                bytes.insert(0, "\r\n");
            break;
        case TEncoding::Utf8:
            bytes = "\xEF\xBB\xBF";
            EncodeUtf8(bytes, text);
            break;
        case TEncoding::Utf16Le:
        case TEncoding::Utf16Be: {
            const bool little = doc.Encoding == TEncoding::Utf16Le;
            bytes.reserve(2 + 2 * text.size());
            bytes += little ? "\xFF\xFE" : "\xFE\xFF";
            for (char16_t u : text) {
                const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
                bytes.push_back(little ? lo : hi);
                bytes.push_back(little ? hi : lo);
            }
            break;
        }
    }
    return bytes;
}

TSection* FindSection(TDocument& doc, std::u16string_view name) {
    for (TSection& section : doc.Sections)
        if (SameName(section.Name, name)) return &section;
    return nullptr;
}

TEntry* FindEntry(TSection& section, std::u16string_view name) {
    for (TEntry& entry : section.Entries)
        if (SameName(entry.Name, name)) return &entry;
    return nullptr;
}

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
    while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
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

class TNativeProfileStore final : public TProfileStore {
public:
    explicit TNativeProfileStore(const std::array<char16_t, 128>& page) : codePage_(page) {}

    std::string GetString(const char* section, const char* key, const char* defaultValue, const char* file) override {
        TDocument doc = Load(file);
        std::u16string value;
        if (const TEntry* entry = Find(doc, section, key); entry && entry->HasValue) {
            value = entry->Value;
        } else {
            // The default loses trailing spaces (only spaces).
            value = codePage_.ToUnicode(OrEmpty(defaultValue));
            while (!value.empty() && value.back() == ' ') value.pop_back();
        }
        return codePage_.ToAnsi(CopyValue(value, ProfileStringMax + 1));
    }

    std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue, const char* file) override {
        TDocument doc = Load(file);
        const TEntry* entry = Find(doc, section, key);
        if (!entry || !entry->HasValue) return defaultValue;
        const std::string text = codePage_.ToAnsi(CopyValue(entry->Value, kIntBufferSize));
        if (text.empty()) return defaultValue;
        return static_cast<std::int32_t>(ParseProfileInt(text));
    }

    bool WriteString(const char* section, const char* key, const char* value, const char* file) override {
        if (!file) return false;
        std::string bytes;
        const profile_detail::TReadResult read = profile_detail::ReadWholeFile(file, bytes);
        // Never replace a file we could not read: its keys would be lost.
        if (read == profile_detail::TReadResult::Failed) return false;
        TDocument doc = Parse(bytes, codePage_);

        const std::u16string sectionName = codePage_.ToUnicode(OrEmpty(section));
        const std::u16string keyName = codePage_.ToUnicode(OrEmpty(key));
        TSection* target = FindSection(doc, Trim(sectionName));
        if (!value) {
            // Unlike a read, a delete looks on through later sections of
            // the same name: the first such key anywhere goes.
            for (TSection& candidate : doc.Sections) {
                if (!SameName(candidate.Name, Trim(sectionName))) continue;
                if (TEntry* entry = FindEntry(candidate, Trim(keyName))) {
                    candidate.Entries.erase(candidate.Entries.begin() + (entry - candidate.Entries.data()));
                    return Save(file, doc);
                }
            }
            return true;
        }
        const std::u16string newValue(TrimLeft(codePage_.ToUnicode(value)));
        if (!target) {
            doc.Sections.push_back(TSection{std::u16string(TrimLeft(sectionName)), {}});
            target = &doc.Sections.back();
        }
        if (TEntry* entry = FindEntry(*target, Trim(keyName))) {
            if (entry->HasValue && entry->Value == newValue) return true;
            entry->Value = newValue;
            entry->HasValue = true;
        } else {
            target->Entries.push_back(TEntry{std::u16string(TrimLeft(keyName)), newValue, true});
        }
        return Save(file, doc);
    }

private:
    TDocument Load(const char* file) const {
        std::string bytes;
        if (!file || profile_detail::ReadWholeFile(file, bytes) != profile_detail::TReadResult::Ok) return TDocument{};
        return Parse(bytes, codePage_);
    }

    const TEntry* Find(TDocument& doc, const char* section, const char* key) const {
        TSection* found = FindSection(doc, Trim(codePage_.ToUnicode(OrEmpty(section))));
        return found ? FindEntry(*found, Trim(codePage_.ToUnicode(OrEmpty(key)))) : nullptr;
    }

    bool Save(const char* file, const TDocument& doc) const {
        return profile_detail::ReplaceWholeFile(file, Serialize(doc, codePage_));
    }

    TCodePage codePage_;
};

}  // namespace

TProfileStore& NativeProfileStore() {
    static TNativeProfileStore store(kCp1251);
    return store;
}

std::unique_ptr<TProfileStore> MakeNativeProfileStore(std::uint32_t codePage) {
    return std::make_unique<TNativeProfileStore>(codePage == 1252 ? kCp1252 : kCp1251);
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
