#pragma once
// Text at the Windows boundary. Everything above the window layer keeps
// Windows-1251 bytes; Windows is spoken to through the wide API with an
// explicit conversion, so the Russian texts read right whatever the
// system's own ANSI code page is.

#include <string>
#include <string_view>

inline constexpr unsigned CyrillicCodePage = 1251;

std::wstring Widen1251(std::string_view text);
// A character that Windows-1251 lacks becomes "?".
std::string Narrow1251(std::wstring_view text);
// One typed character (a UTF-16 unit) as its Windows-1251 byte, '?' when
// 1251 has no such character.
unsigned char CharTo1251(wchar_t c);
wchar_t CharFrom1251(unsigned char c);

// File names travel as UTF-8 above this layer, so a folder named in any
// script can be reached; the system takes them as UTF-16.
std::wstring WidenUtf8(std::string_view text);
std::string NarrowUtf8(std::wstring_view text);

// Any code page the system knows (CP_ACP for the system's own).
std::wstring Widen(unsigned codePage, std::string_view text);
std::string Narrow(unsigned codePage, std::wstring_view text);
