// The INI document and the code pages, without files: bytes in, a change,
// bytes out, as another program reading the file would see them.
#include "winlib/inidocument.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TIniDocument, ChangesWrittenBackAsTheFileWouldHoldThem) {
    const TCodePage& cp1251 = TCodePage::Cp1251();
    struct TCase {
        const char* name;
        std::string before;
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;  // nullptr: delete
        bool changed;
        std::string after;
    } const cases[] = {
        {"new file", "", u"params", u"p1", u"5", true, "[params]\r\np1=5\r\n"},
        {"new key keeps the rest", "; note\n[params]\np1=5\n\n[znah]\np1=1", u"params", u"p2", u"0", true,
         "; note\r\n[params]\r\np1=5\r\np2=0\r\n[znah]\r\np1=1\r\n"},
        {"names ignore case and blanks", "[Params]\r\nP1 = 5\r\n", u" params ", u"p1\t", u"6", true,
         "[Params]\r\nP1=6\r\n"},
        {"same value: no change", "[params]\r\np1=5\r\n", u"params", u"p1", u"5", false, "[params]\r\np1=5\r\n"},
        {"delete looks through same-named sections", "[z]\r\na=1\r\n[z]\r\np1=2\r\n", u"z", u"p1", nullptr, true,
         "[z]\r\na=1\r\n[z]\r\n"},
        {"delete of a missing key", "[z]\r\na=1\r\n", u"z", u"p1", nullptr, false, "[z]\r\na=1\r\n"},
        {"Russian value in 1251", "", u"params", u"p2", u"ыж", true, "[params]\r\np2=\xFB\xE6\r\n"},
        {"UTF-16 stays UTF-16", std::string("\xFF\xFE[\0z\0]\0", 8), u"z", u"k", u"1", true,
         std::string("\xFF\xFE[\0z\0]\0\r\0\n\0k\0=\0" "1\0\r\0\n\0", 22)},
        {"UTF-8 stays UTF-8", "\xEF\xBB\xBF[z]\n", u"z", u"k", u"ы", true, "\xEF\xBB\xBF[z]\r\nk=\xD1\x8B\r\n"},
        {"ANSI that looks like a mark stays ANSI", "", u"", u"\u044f\u044ek", u"1", true, "\r\n\xFF\xFEk=1\r\n"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TIniDocument doc = TIniDocument::Parse(c.before, cp1251);
        const bool changed = c.value ? doc.Set(c.section, c.key, c.value) : doc.Delete(c.section, c.key);
        EXPECT_EQ(changed, c.changed);
        if (changed) {
            EXPECT_EQ(doc.Serialize(cp1251), c.after);
        }
        if (c.value) {
            const TIniDocument reread = TIniDocument::Parse(c.after, cp1251);
            const TIniEntry* entry = reread.Find(c.section, c.key);
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->Value, c.value) << "read back";
        }
    }
}

TEST(TCodePage, EveryByteRoundTripsAndRussianReachesUtf8) {
    for (const TCodePage* page : {&TCodePage::Cp1251(), &TCodePage::Cp1252()}) {
        std::string all;
        for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
        EXPECT_EQ(page->ToAnsi(page->ToUnicode(all)), all);
    }
    EXPECT_EQ(TCodePage::Cp1251().ToUnicode("\xD1\xE1\xF0\xEE\xF1"), u"Сброс");
    EXPECT_EQ(TCodePage::Cp1251().ToAnsi(u"Δ"), "?");
    EXPECT_EQ(Utf8From1251("\xD1\xE1\xF0\xEE\xF1 \x98"), "Сброс ?");
    // Broken UTF-8 as the system reads it: one U+FFFD per bad piece.
    EXPECT_EQ(DecodeUtf8("a\xC3(\xE0\x80\x80\xF0\x9F\x98"), u"a\uFFFD(\uFFFD\uFFFD\uFFFD");
    std::string out;
    EncodeUtf8(out, u"\U0001F600\xD800");
    EXPECT_EQ(out, "\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

}  // namespace
