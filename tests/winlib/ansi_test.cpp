#include <gtest/gtest.h>

#include <string>

#include "winlib/ansi.h"

#ifndef _WIN32
#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#endif

namespace {

std::string AllNonZeroBytes() {
    std::string s;
    for (int c = 1; c < 256; ++c) s.push_back(static_cast<char>(c));
    return s;
}

std::string Lowered(TAnsiCase& conversion, std::string s) {
    conversion.Lower(s.data(), s.size());
    return s;
}

TEST(AnsiLowerTest, TableLowersLatinAndCyrillicCapitalsOnly) {
    TAnsiCase& table = TableAnsiCase();
    EXPECT_EQ(Lowered(table, "ABC xyz [@]^_`{"), "abc xyz [@]^_`{");
    // ПРИВЕТ, Ёж, Її Ґ Ў Є І Ѕ Ј Ђ Ѓ Љ Њ Ќ Ћ Џ
    EXPECT_EQ(Lowered(table, "\xCF\xD0\xC8\xC2\xC5\xD2"), "\xEF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_EQ(Lowered(table, "\xA8\xE6"), "\xB8\xE6");
    EXPECT_EQ(Lowered(table, "\xAF\xA5\xA1\xAA\xB2\xBD\xA3\x80\x81\x8A\x8C\x8D\x8E\x8F"),
              "\xBF\xB4\xA2\xBA\xB3\xBE\xBC\x90\x83\x9A\x9C\x9D\x9E\x9F");
    // Small letters, digits and signs stay; nothing lowers twice.
    const std::string once = Lowered(table, AllNonZeroBytes());
    EXPECT_EQ(Lowered(table, once), once);
    int changed = 0;
    for (int c = 1; c < 256; ++c) changed += once[c - 1] != static_cast<char>(c);
    EXPECT_EQ(changed, 26 + 32 + 15);
}

TEST(AnsiLowerTest, StopsAtTheFirstZeroByteAndTheLength) {
    for (TAnsiCase* conversion : {&TableAnsiCase(), &PlatformAnsiCase()}) {
        std::string s("AB\0CD", 5);
        conversion->Lower(s.data(), s.size());
        EXPECT_EQ(s, std::string("ab\0CD", 5));
        std::string t = "ABC";
        conversion->Lower(t.data(), 2);
        EXPECT_EQ(t, "abC");
        conversion->Lower(nullptr, 3);
        std::string empty;
        conversion->Lower(empty.data(), 0);
    }
}

// Marks what it was given instead of lowering it.
struct Marker : TAnsiCase {
    std::string Given;
    void Lower(char* text, std::size_t length) override { Given.assign(text, length); }
};

TEST(AnsiLowerTest, CurrentConversionCanBeReplacedAndRestored) {
    Marker fake;
    TAnsiCase* const before = SetAnsiCase(&fake);
    std::string s = "Ab";
    AnsiLower(s);
    EXPECT_EQ(fake.Given, "Ab");
    EXPECT_EQ(s, "Ab");
    EXPECT_EQ(SetAnsiCase(before), &fake);
    AnsiLower(s = "Ab");
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(&CurrentAnsiCase(), &PlatformAnsiCase());
}

#ifdef _WIN32

// The system's conversion and the portable table must agree on every byte,
// one at a time and as one long text (which the system side takes in parts).
TEST(AnsiLowerTest, SystemConversionAgreesWithTheTable) {
    for (int c = 1; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        EXPECT_EQ(Lowered(PlatformAnsiCase(), one), Lowered(TableAnsiCase(), one)) << "byte " << c;
    }
    std::string all;
    for (int round = 0; round < 3; ++round) all += AllNonZeroBytes();
    EXPECT_EQ(Lowered(PlatformAnsiCase(), all), Lowered(TableAnsiCase(), all));
}

#else

// An independent opinion: decode 1251 with iconv, lower with the C library's
// Unicode tables, encode again.
TEST(AnsiLowerTest, TableAgreesWithUnicodeLowerCase) {
    iconv_t decode = iconv_open("WCHAR_T", "CP1251");
    iconv_t encode = iconv_open("CP1251", "WCHAR_T");
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (decode == reinterpret_cast<iconv_t>(-1) || encode == reinterpret_cast<iconv_t>(-1) || utf8 == nullptr)
        GTEST_SKIP() << "no CP1251 converter or C.UTF-8 locale";
    for (int c = 1; c < 256; ++c) {
        char in = static_cast<char>(c);
        wchar_t wide = 0;
        char* inp = &in;
        std::size_t inLeft = 1;
        char* widep = reinterpret_cast<char*>(&wide);
        std::size_t wideLeft = sizeof wide;
        char expected = in;
        if (iconv(decode, &inp, &inLeft, &widep, &wideLeft) != static_cast<std::size_t>(-1)) {
            wchar_t low = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(wide), utf8));
            char out = 0;
            char* lowp = reinterpret_cast<char*>(&low);
            std::size_t lowLeft = sizeof low;
            char* outp = &out;
            std::size_t outLeft = 1;
            if (iconv(encode, &lowp, &lowLeft, &outp, &outLeft) != static_cast<std::size_t>(-1)) expected = out;
        }
        EXPECT_EQ(Lowered(TableAnsiCase(), std::string(1, in)), std::string(1, expected)) << "byte " << c;
    }
    freelocale(utf8);
    iconv_close(decode);
    iconv_close(encode);
}

#endif

}  // namespace
