#pragma once
// A profile (INI) file in memory, as the system's profile functions see it:
// parsed from the file's bytes, looked up, changed, and written back as
// bytes. No file is touched here; winlib/profile.h does that.
//
// - Lines end at CR, LF or CRLF. Each line is trimmed of blanks (space,
//   tab, CR, LF, VT, FF); empty lines are dropped.
// - "[name]" opens a section; the name runs to the last ']' on the line and
//   is trimmed. A '[' line without ']' is an ordinary key line.
// - A key line is "name=value" split at the first '=', both halves trimmed;
//   a line without '=' is a key with no value. ';' lines are keys too.
// - Lines before the first section belong to a section named "".
// - Names match ignoring the case of ASCII letters only, trimmed first. Of
//   duplicate sections or keys the first wins, except that a delete removes
//   the first such key in any of the sections of that name.
// - Written back: CRLF line ends, "name=value" without blanks, empty lines
//   gone, everything else (order, duplicates, comment lines) kept, in the
//   encoding the file came in (ANSI, or UTF-8/UTF-16 with their mark).

#include <string>
#include <string_view>
#include <vector>

#include "winlib/codepage.h"

enum class TIniEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

struct TIniEntry {
    std::u16string Name;
    std::u16string Value;
    bool HasValue = false;  // false: a line without '='
};

struct TIniSection {
    std::u16string Name;
    std::vector<TIniEntry> Entries;
};

class TIniDocument {
public:
    // ANSI text is read in `ansi`; a file with a byte-order mark in its encoding.
    static TIniDocument Parse(std::string_view bytes, const TCodePage& ansi);
    std::string Serialize(const TCodePage& ansi) const;

    // The first entry of that name in the first section of that name.
    const TIniEntry* Find(std::u16string_view section, std::u16string_view key) const;
    // Sets the key's value, adding the section and the key at their ends
    // as needed. False when the value was already that.
    bool Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    // Removes the first key of that name in any section of that name.
    // False when there was none.
    bool Delete(std::u16string_view section, std::u16string_view key);

    TIniEncoding Encoding = TIniEncoding::Ansi;
    // Sections[0] holds the lines before the first header; it has no header
    // of its own and always exists.
    std::vector<TIniSection> Sections = std::vector<TIniSection>(1);
};

// The blanks lines and names are trimmed of.
inline bool IsIniBlank(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
