#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "elements/strings.h"
#include "tests/support/mask_reference.h"
#include "tests/support/probes.h"
#include "winlib/ansi.h"

namespace {

using namespace std::string_literals;

// --- Reference definitions, transcribed literally (1-based positions) ---

// In place, with 1-based positions; the test sees the text from k on.
void ReferenceReplaceAll(std::string& text, const std::string& pattern, const std::string& replacement,
                         const TReplaceTest& accept) {
    auto pos = [&](std::size_t from) -> std::size_t {  // first position at or after from, 0 if none
        const std::size_t k = text.find(pattern, from - 1);
        return k == std::string::npos ? 0 : k + 1;
    };
    std::size_t k = pos(1);
    while (k > 0) {
        if (!accept || accept(std::string_view(text).substr(k - 1))) {
            text.erase(k - 1, pattern.size());
            text.insert(k - 1, replacement);
            k += replacement.size();
        } else {
            k += 1;
        }
        k = pos(k);
    }
}

// All strings over the alphabet up to the given length.
std::vector<std::string> AllStrings(const std::string& alphabet, std::size_t maxLength) {
    std::vector<std::string> out{""};
    for (std::size_t begin = 0, length = 1; length <= maxLength; ++length) {
        const std::size_t end = out.size();
        for (std::size_t k = begin; k < end; ++k)
            for (char c : alphabet) out.push_back(out[k] + c);
        begin = end;
    }
    return out;
}

// --- MaskMatch ---

TEST(MaskMatchTest, AgreesWithTheReferenceOnAllSmallCases) {
    const auto texts = AllStrings("a1\0"s, 5);
    const auto masks = AllStrings("a1\0*?#"s, 5);
    std::size_t mismatches = 0;
    for (const auto& m : masks)
        for (const auto& t : texts)
            if (MaskMatch(t, m) != ReferenceMaskMatch(t, m, 1, 1) && ++mismatches <= 10)
                ADD_FAILURE() << "text '" << t << "' (" << t.size() << ") mask '" << m << "' (" << m.size() << ")";
    EXPECT_EQ(mismatches, 0u);
}

TEST(MaskMatchTest, AgreesWithTheReferenceOnRandomCasesAndStarts) {
    std::mt19937 rng(20240611);
    const std::string textChars = "ab1*?#\0"s;
    const std::string maskChars = "ab1\0*?#"s;
    auto pick = [&](const std::string& chars, std::size_t maxLength, int maxStars) {
        std::string s;
        int stars = 0;
        for (std::size_t n = rng() % (maxLength + 1); n > 0; --n) {
            char c = chars[rng() % chars.size()];
            if (c == '*' && ++stars > maxStars) c = 'a';
            s.push_back(c);
        }
        return s;
    };
    for (int round = 0; round < 30000; ++round) {
        const std::string t = pick(textChars, 12, 99);
        const std::string m = pick(maskChars, 10, 4);
        const std::size_t i = 1 + rng() % (t.size() + 3);
        const std::size_t j = 1 + rng() % (m.size() + 3);
        ASSERT_EQ(MaskMatch(t, m, i, j), ReferenceMaskMatch(t, m, i, j))
            << "text '" << t << "' mask '" << m << "' from " << i << "," << j;
        // As the mask element calls it.
        ASSERT_EQ(MaskMatch(t + '\0', m + '\0'), ReferenceMaskMatch(t + '\0', m + '\0', 1, 1))
            << "text '" << t << "' mask '" << m << "' zero-ended";
    }
}

TEST(MaskMatchTest, ManyStarsFinishWithoutDeepRecursion) {
    // Against the plain definition these would take exponential time and a
    // stack frame per '*'.
    const std::string text = std::string(20000, 'a') + '\0';
    EXPECT_TRUE(MaskMatch(text, std::string(10000, '*') + '\0'));
    EXPECT_FALSE(MaskMatch(text, std::string(10000, '*') + "b" + '\0'));

    std::string alternating;
    for (int k = 0; k < 1000; ++k) alternating += "*a";
    const std::string shortText = std::string(3000, 'a') + '\0';
    EXPECT_TRUE(MaskMatch(shortText, alternating + '\0'));
    EXPECT_FALSE(MaskMatch(shortText, alternating + "b" + '\0'));
    EXPECT_FALSE(MaskMatch(std::string(999, 'a') + '\0', alternating + '\0'));
}

TEST(MaskMatchTest, OutOfRangeStartsAreSafe) {
    EXPECT_EQ(MaskMatch("ab", "*", 0, 0), ReferenceMaskMatch("ab", "*", 1, 1));
    EXPECT_TRUE(MaskMatch("ab", "", static_cast<std::size_t>(-1), static_cast<std::size_t>(-1)));
    EXPECT_TRUE(MaskMatch("", ""));
    EXPECT_TRUE(MaskMatch("", "*"));
}

// --- ReplaceAll ---

TEST(ReplaceAllTest, InsertedTextIsNotRescanned) {
    std::string s = "a-a";
    ReplaceAll(s, "a", "aa");
    EXPECT_EQ(s, "aa-aa");
    ReplaceAll(s, "", "x");  // an empty pattern changes nothing
    EXPECT_EQ(s, "aa-aa");
    ReplaceAll(s, "zz", "x");
    EXPECT_EQ(s, "aa-aa");
}

TEST(ReplaceAllTest, RefusedOccurrenceIsSkippedByOneCharacter) {
    std::string s = "aaa";
    ReplaceAll(s, "aa", "X", [](std::string_view from) { return from.size() != 3; });
    EXPECT_EQ(s, "aX");
}

TEST(ReplaceAllTest, AgreesWithInPlaceReplacement) {
    std::mt19937 rng(7);
    auto pick = [&](const char* chars, std::size_t n) {
        std::string s;
        for (std::size_t k = 0; k < n; ++k) s.push_back(chars[rng() % std::char_traits<char>::length(chars)]);
        return s;
    };
    const TReplaceTest notBeforeB = [](std::string_view from) { return from.size() < 2 || from[1] != 'b'; };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = pick("ab%", rng() % 12);
        const std::string pattern = pick("ab%", 1 + rng() % 3);
        const std::string replacement = pick("ab%", rng() % 4);
        const TReplaceTest test = round % 2 ? notBeforeB : TReplaceTest{};
        std::string expected = text;
        ReferenceReplaceAll(expected, pattern, replacement, test);
        std::string actual = text;
        ReplaceAll(actual, pattern, replacement, test);
        ASSERT_EQ(actual, expected) << text << " / " << pattern << " / " << replacement;
    }
}

// --- Elements ---

class StringElementsTest : public ::testing::Test {
protected:
    void SetUp() override { StartFramework(); }
    void TearDown() override { StopFramework(); }

    // Formats once with the given incoming value and returns the text fired.
    std::string Format(TQXFormatStr& f, TData incoming = {}) {
        TRecorder out;
        f.onFormat = QX_LINK(&out, doEvent, 0);
        FireEvent(QX_LINK(&f, doFormat, 0), incoming);
        f.onFormat = {};
        EXPECT_EQ(out.Seen.size(), 1u);
        if (out.Seen.empty()) return "<nothing>";
        EXPECT_EQ(out.Seen[0].Kind, dtString);
        return out.Seen[0].TextValue.str();
    }
    std::string FormatText(TQXFormatStr& f, const std::string& incoming) {
        TData v;
        SetText(v, incoming);
        return Format(f, v);
    }
};

TEST_F(StringElementsTest, FormatWithoutPlaceholdersIsConstant) {
    TQXFormatStr f;
    f.Mask = "ATH1\r";
    TData n;
    SetInteger(n, 12);
    EXPECT_EQ(Format(f), "ATH1\r");
    EXPECT_EQ(Format(f, n), "ATH1\r");
    EXPECT_EQ(FormatText(f, "%1"), "ATH1\r");
    f.Mask = "100%%";
    EXPECT_EQ(FormatText(f, "x"), "100%");
}

TEST_F(StringElementsTest, FormatFillsPlaceholdersFromPointsThenTheIncomingValue) {
    TQXFormatStr f;
    f.SetCount(1);
    f.Mask = "Port %1 is wrong";
    TData three;
    SetInteger(three, 3);
    EXPECT_EQ(Format(f, three), "Port 3 is wrong");

    f.SetCount(2);
    f.Mask = "[%1|%2]";
    EXPECT_EQ(FormatText(f, "x"), "[x|]");  // the first unlinked point uses the value up

    TSource a;
    SetText(a.Value, "A");
    f.Str[0] = QX_LINK(&a, readValue, 0);
    EXPECT_EQ(FormatText(f, "in"), "[A|in]");
    a.Value.Kind = dtBreak;  // Break counts as unlinked
    EXPECT_EQ(FormatText(f, "in"), "[in|]");
}

TEST_F(StringElementsTest, FormatPlaceholderSyntax) {
    TQXFormatStr f;
    f.SetCount(1);
    f.Mask = "%%1";
    EXPECT_EQ(FormatText(f, "v"), "%1");
    f.Mask = "%12|%1";  // %1 does not eat the start of %12
    EXPECT_EQ(FormatText(f, "v"), "%12|v");
    f.Mask = "%1 %2";  // above Count: literal
    EXPECT_EQ(FormatText(f, "v"), "v %2");
    f.Mask = "%1";  // the inserted value is not rescanned
    EXPECT_EQ(FormatText(f, "%1"), "%1");

    f.SetCount(12);
    TSource twelve;
    SetText(twelve.Value, "L");
    f.Str[11] = QX_LINK(&twelve, readValue, 0);
    f.Mask = "%12";
    EXPECT_EQ(FormatText(f, "v"), "L");

    f.SetCount(2);
    TSource five, b;
    SetInteger(five.Value, 5);
    SetText(b.Value, "b");
    f.Str[0] = QX_LINK(&five, readValue, 0);
    f.Str[1] = QX_LINK(&b, readValue, 0);
    f.Mask = "%2%1";  // a value starting with a digit does not block %2
    EXPECT_EQ(Format(f), "b5");
    SetText(five.Value, "%2");  // a later token inside a value is replaced too
    f.Mask = "%1";
    EXPECT_EQ(Format(f), "b");
}

TEST_F(StringElementsTest, FormatMarkerBytes) {
    TQXFormatStr f;
    f.SetCount(1);
    f.Mask = "<%1>";
    EXPECT_EQ(FormatText(f, "a\x01" "b"), "<ab>");    // byte 1 never comes out
    EXPECT_EQ(FormatText(f, "a\0b"s), "<a%b>");       // byte 0 comes out as '%'
    f.Mask = TText("\x01x\0y"s);
    EXPECT_EQ(FormatText(f, "v"), "x%y");
}

TEST_F(StringElementsTest, FormatBadCountsAreHarmless) {
    TQXFormatStr f;
    f.SetCount(-3);
    EXPECT_EQ(f.Count, -3);
    EXPECT_TRUE(f.Str.empty());
    f.Mask = "%1%%";
    EXPECT_EQ(FormatText(f, "v"), "%1%");

    // Written directly, without points behind it: missing points are unlinked.
    f.Count = 2147483647;
    f.Mask = "%1 %2147483647 %5 %05";
    EXPECT_EQ(FormatText(f, "x"), "x   %05");

    f.SetCount(2147483647);
    EXPECT_LE(f.Str.size(), 65536u);
    f.Mask = "%3";
    EXPECT_EQ(FormatText(f, "x"), "");
}

// Counts its calls; lowers ASCII only.
struct CountingCase final : TAnsiCase {
    int Calls = 0;
    void Lower(char* text, std::size_t length) override {
        ++Calls;
        for (std::size_t i = 0; i < length && text[i] != '\0'; ++i)
            if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
    }
};

class StrMaskTest : public StringElementsTest {
protected:
    TQXStrMask mask;
    TRecorder yes, no;
    void SetUp() override {
        StringElementsTest::SetUp();
        mask.onTrue = QX_LINK(&yes, doEvent, 0);
        mask.onFalse = QX_LINK(&no, doEvent, 0);
    }
    // 'T' or 'F' per text.
    std::string Run(const std::vector<std::string>& texts) {
        std::string r;
        for (const auto& s : texts) {
            const std::size_t before = yes.Seen.size();
            FireText(QX_LINK(&mask, doCompare, 0), s);
            r += yes.Seen.size() > before ? 'T' : 'F';
        }
        return r;
    }
};

TEST_F(StrMaskTest, WholeTextMustMatch) {
    mask.IgnoreCase = 1;
    mask.Mask = "0";
    EXPECT_EQ(Run({"0", "00", "1", ""}), "TFFF");
    mask.Mask = "a*";
    EXPECT_EQ(Run({"a", "abc", "ba"}), "TTF");
    mask.Mask = "*";
    EXPECT_EQ(Run({"", "anything", "\xC0\xFF"}), "TTT");
    mask.Mask = "##";
    EXPECT_EQ(Run({"42", "4", "4a", "421"}), "TFFF");
    mask.Mask = "?";
    EXPECT_EQ(Run({"x", "\xFF", "", "xy"}), "TTFF");
    mask.Mask = "";
    EXPECT_EQ(Run({"", "a"}), "TF");
}

TEST_F(StrMaskTest, IgnoreCaseExactlyOneLowersBothTexts) {
    mask.Mask = "ABC";
    mask.IgnoreCase = 1;
    EXPECT_EQ(Run({"abc", "Abc", "ABC", "abd"}), "TTTF");
    mask.IgnoreCase = 0;
    EXPECT_EQ(Run({"abc", "Abc", "ABC"}), "FFT");
    mask.IgnoreCase = 2;
    EXPECT_EQ(Run({"abc", "ABC"}), "FT");
    // Cyrillic: ПОРТ against порт and Ёж against ёЖ.
    mask.IgnoreCase = 1;
    mask.Mask = "\xCF\xCE\xD0\xD2 \xA8\xE6";
    EXPECT_EQ(Run({"\xEF\xEE\xF0\xF2 \xB8\xC6", "\xEF\xEE\xF0 \xB8\xC6"}), "TF");
    // Lowering stops at the first zero byte, as the system's does.
    mask.Mask = TText("a\0b"s);
    EXPECT_EQ(Run({"A\0b"s, "a\0B"s}), "TF");
}

TEST_F(StrMaskTest, LowersThroughTheSeamOnlyWhenAsked) {
    CountingCase counting;
    TAnsiCase* const before = SetAnsiCase(&counting);
    mask.Mask = "X";
    mask.IgnoreCase = 0;
    EXPECT_EQ(Run({"x"}), "F");
    EXPECT_EQ(counting.Calls, 0);
    mask.IgnoreCase = 1;
    EXPECT_EQ(Run({"x"}), "T");
    EXPECT_EQ(counting.Calls, 2);
    SetAnsiCase(before);
}

TEST_F(StrMaskTest, FiresTheTextAsRead) {
    mask.Mask = "ab*";
    mask.IgnoreCase = 1;
    FireText(QX_LINK(&mask, doCompare, 0), "ABcD");
    ASSERT_EQ(yes.Seen.size(), 1u);
    EXPECT_EQ(yes.Seen[0].Kind, dtString);
    EXPECT_EQ(yes.Seen[0].TextValue, "ABcD");

    TSource text;
    SetInteger(text.Value, 5);
    mask.Text = QX_LINK(&text, readValue, 0);
    FireText(QX_LINK(&mask, doCompare, 0), "ab");  // the point wins over the value
    ASSERT_EQ(no.Seen.size(), 1u);
    EXPECT_EQ(no.Seen[0].TextValue, "5");

    mask.Text = {};
    mask.Mask = "#";
    FireInteger(QX_LINK(&mask, doCompare, 0), 7);
    ASSERT_EQ(yes.Seen.size(), 2u);
    EXPECT_EQ(yes.Seen[1].TextValue, "7");
}

}  // namespace
