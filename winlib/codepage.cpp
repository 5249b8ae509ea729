#include "winlib/codepage.h"

#include <algorithm>

#include "winlib/cp1251.h"

namespace {

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

}  // namespace

TCodePage::TCodePage(const std::array<char16_t, 128>& upperHalf) : upper_(upperHalf) {
    for (int i = 0; i < 128; ++i) reverse_[i] = {upperHalf[i], static_cast<unsigned char>(0x80 + i)};
    std::sort(reverse_.begin(), reverse_.end());
}

const TCodePage& TCodePage::Cp1251() {
    static const TCodePage page(Cp1251Upper);
    return page;
}

const TCodePage& TCodePage::Cp1252() {
    static const TCodePage page(kCp1252);
    return page;
}

const TCodePage& TCodePage::ById(unsigned id) { return id == 1252 ? Cp1252() : Cp1251(); }

std::u16string TCodePage::ToUnicode(std::string_view ansi) const {
    std::u16string out;
    out.reserve(ansi.size());
    for (unsigned char c : ansi) out.push_back(c < 0x80 ? char16_t(c) : upper_[c - 0x80]);
    return out;
}

std::string TCodePage::ToAnsi(std::u16string_view text) const {
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

namespace {

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

}  // namespace

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

std::string Utf8From1251(std::string_view text) {
    std::u16string wide = TCodePage::Cp1251().ToUnicode(text);
    std::replace(wide.begin(), wide.end(), char16_t(0x98), char16_t('?'));
    std::string out;
    out.reserve(text.size() * 2);
    EncodeUtf8(out, wide);
    return out;
}
