#include "winlib/win32/wintext.h"

#include <windows.h>

std::wstring Widen(unsigned codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::wstring Widen1251(std::string_view text) { return Widen(CyrillicCodePage, text); }

std::wstring WidenUtf8(std::string_view text) { return Widen(CP_UTF8, text); }

std::string Narrow(unsigned codePage, std::wstring_view text) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

std::string NarrowUtf8(std::wstring_view text) { return Narrow(CP_UTF8, text); }

std::string Narrow1251(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    // No best fit: Windows would write a look-alike ("e" for "é") instead of "?".
    const int n = WideCharToMultiByte(CyrillicCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, "?", nullptr);
    if (n <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CyrillicCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, narrow.data(), n, "?", nullptr);
    return narrow;
}

unsigned char CharTo1251(wchar_t c) {
    char b = '?';
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CyrillicCodePage, WC_NO_BEST_FIT_CHARS, &c, 1, &b, 1, "?", &usedDefault) != 1) return '?';
    return static_cast<unsigned char>(b);
}

wchar_t CharFrom1251(unsigned char c) {
    const char b = static_cast<char>(c);
    wchar_t w = L'?';
    if (MultiByteToWideChar(CyrillicCodePage, 0, &b, 1, &w, 1) != 1) return L'?';
    return w;
}
