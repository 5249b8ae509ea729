#pragma once
// Text encodings of the portable code: the two ANSI code pages we know
// (Windows-1251, the program's own, and Windows-1252) against Unicode, and
// UTF-8. The "..."_cp1251 literal of winlib/cp1251.h is the compile-time
// face of the same table; the Win32 layer converts through the system
// (winlib/win32/wintext.h) where a Win32 call takes the text.

#include <array>
#include <string>
#include <string_view>

class TCodePage {
public:
    // Bytes 0x80..0xFF; bytes without a character map to the code point of
    // the same value, as the system does, so any byte survives a round trip.
    explicit TCodePage(const std::array<char16_t, 128>& upperHalf);

    static const TCodePage& Cp1251();
    static const TCodePage& Cp1252();
    // 1252 for 1252, 1251 for anything else.
    static const TCodePage& ById(unsigned id);

    std::u16string ToUnicode(std::string_view ansi) const;
    // One byte per UTF-16 unit; '?' for characters the page lacks (so a
    // surrogate pair gives two).
    std::string ToAnsi(std::u16string_view text) const;

private:
    const std::array<char16_t, 128>& upper_;
    std::array<std::pair<char16_t, unsigned char>, 128> reverse_{};
};

// UTF-8 with the system's error handling: a byte that cannot start a
// character is one U+FFFD; a start byte followed by a continuation byte
// outside its allowed range (overlong forms, surrogates, beyond U+10FFFF)
// is one U+FFFD for the two; a character cut short is one U+FFFD for what
// there was of it.
std::u16string DecodeUtf8(std::string_view bytes);
// Appends the UTF-8 form; a lone surrogate has none and is written as U+FFFD.
void EncodeUtf8(std::string& out, std::u16string_view text);

// Windows-1251 bytes as UTF-8, for file names and for what reaches a
// terminal or a log; 0x98, which has no character, shows as '?'.
std::string Utf8From1251(std::string_view text);
