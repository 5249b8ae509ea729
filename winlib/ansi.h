#pragma once
// Lower-casing of ANSI (Windows-1251) text. Matching with case ignored
// needs the Cyrillic letters lowered as well as A..Z, so this goes through
// a seam: the platform's own conversion on Windows, a 1251 table elsewhere.

#include <cstddef>
#include <string>

#include "winlib/seam.h"

class TAnsiCase {
public:
    TAnsiCase() = default;
    TAnsiCase(const TAnsiCase&) = delete;
    TAnsiCase& operator=(const TAnsiCase&) = delete;
    virtual ~TAnsiCase() = default;

    // Lowers text[0..length) in place, stopping at the first zero byte.
    // Bytes that are not capital letters stay as they are.
    virtual void Lower(char* text, std::size_t length) = 0;
};

// The platform's own: the system's wide lower-casing after an explicit
// conversion from code page 1251 on Windows, the table below elsewhere.
TAnsiCase& PlatformAnsiCase();

// The conversion in use now: the platform's own, or a test's stand-in.
using TAnsiCaseSeam = TSeam<TAnsiCase, PlatformAnsiCase>;
inline TAnsiCase& CurrentAnsiCase() { return TAnsiCaseSeam::Current(); }
// nullptr selects the platform's own; gives back the stand-in that was in
// force (nullptr: none).
inline TAnsiCase* SetAnsiCase(TAnsiCase* conversion) { return TAnsiCaseSeam::Set(conversion); }

// A fixed Windows-1251 table: A..Z, the Russian capitals, Ё and the other
// Cyrillic capitals of 0x80..0xBF. Available on every platform.
TAnsiCase& TableAnsiCase();

// Through the current conversion.
void AnsiLower(char* text, std::size_t length);
void AnsiLower(std::string& text);
