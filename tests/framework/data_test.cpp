#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "framework/data.h"
#include "tests/support/probes.h"

namespace {

TEST(TypeNamesTest, CodesAndNames) {
    EXPECT_STREQ(TypeNames[dtNull], "NULL");
    EXPECT_STREQ(TypeNames[dtString], "String");
    EXPECT_STREQ(TypeNames[dtReal], "Real");
    EXPECT_STREQ(TypeNames[dtArray], "Array");
    EXPECT_STREQ(TypeNames[dtMatrix], "Matrix");
    EXPECT_STREQ(TypeNames[dtBreak], "Break");
}

TEST(TextToIntTest, ScansOneSignAndLeadingDigits) {
    EXPECT_EQ(TextToInt("12abc"), 12);
    EXPECT_EQ(TextToInt("+7"), 7);
    EXPECT_EQ(TextToInt(" 5"), 0);
    EXPECT_EQ(TextToInt("--5"), 0);
    EXPECT_EQ(TextToInt("abc"), 0);
    EXPECT_EQ(TextToInt(""), 0);
    EXPECT_EQ(TextToInt("-"), 0);
    EXPECT_EQ(TextToInt("-42x"), -42);
    EXPECT_EQ(TextToInt("007"), 7);
}

TEST(TextToIntTest, OverflowWrapsSilently) {
    EXPECT_EQ(TextToInt("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt("2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(TextToInt("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(TextToInt("4294967297"), 1);
    EXPECT_EQ(TextToInt("99999999999999999999"), static_cast<std::int32_t>(1661992959u));
}

TEST(IntToTextTest, SignedDecimal) {
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(-15), "-15");
    EXPECT_EQ(IntToText(2147483647), "2147483647");
    EXPECT_EQ(IntToText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
    for (std::int32_t n : {1, -1, 10, 99, -100, 123456789}) EXPECT_EQ(TextToInt(IntToText(n).view()), n);
}

TEST(TextToRealTest, LenientScan) {
    EXPECT_EQ(TextToReal("2.5"), 2.5);
    EXPECT_EQ(TextToReal("2.5e3"), 2500.0);
    EXPECT_EQ(TextToReal("1e-2"), 0.01);
    EXPECT_EQ(TextToReal("1,5"), 15.0);
    EXPECT_EQ(TextToReal("3 000"), 3000.0);
    EXPECT_EQ(TextToReal("12abc3"), 123.0);
    EXPECT_EQ(TextToReal("1.2.3"), 1.2);
    EXPECT_EQ(TextToReal("-.5"), -0.5);
    EXPECT_EQ(TextToReal("abc"), 0.0);
    EXPECT_EQ(TextToReal(""), 0.0);
    EXPECT_EQ(TextToReal("5-3"), 53.0);  // a '-' after the start is skipped
    EXPECT_EQ(TextToReal("+4"), 4.0);
    EXPECT_EQ(TextToReal("2E+2"), 200.0);
    EXPECT_EQ(TextToReal("7e"), 7.0);  // empty exponent: 10^0
}

TEST(TextToRealTest, ExtendedStepsRoundUnlikeTheCLibrary) {
    // Each step rounds the running sum to a double, so some texts land one
    // unit in the last place away from the nearest double.
    EXPECT_EQ(TextToReal("0.12"), std::nextafter(0.12, 1.0));
    EXPECT_EQ(TextToReal("0.34"), std::nextafter(0.34, 0.0));
    EXPECT_EQ(TextToReal("0.5"), 0.5);
}

TEST(TextToRealTest, HugeExponentsStaySafe) {
    EXPECT_TRUE(std::isinf(TextToReal("1e400")));
    EXPECT_EQ(TextToReal("0e999999"), 0.0);
    // Exponents past 32 bits must not wrap round to small ones.
    EXPECT_TRUE(std::isinf(TextToReal("1e4294967296")));
    EXPECT_EQ(TextToReal("1e-4294967296"), 0.0);
    EXPECT_EQ(TextToReal("2e+3"), 2000.0);
    EXPECT_EQ(TextToReal("1e-999999"), 0.0);
    EXPECT_EQ(TextToReal("5e-2147483648"), 0.0);
    EXPECT_TRUE(std::isinf(TextToReal(std::string(400, '9'))));
}

TEST(RealToTextTest, FifteenDigitsFixedPoint) {
    EXPECT_EQ(RealToText(0.0), "0");
    EXPECT_EQ(RealToText(2.5), "2.5");
    EXPECT_EQ(RealToText(100.0), "100");
    EXPECT_EQ(RealToText(0.1), "0.1");
    EXPECT_EQ(RealToText(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(RealToText(1e-5), "0.00001");
    EXPECT_EQ(RealToText(1e20), "1" + std::string(20, '0'));
    EXPECT_EQ(RealToText(-2.5), "-2.5");
    EXPECT_EQ(RealToText(123456789.123456789), "123456789.123457");
    EXPECT_EQ(RealToText(1e15), "1" + std::string(15, '0'));
    EXPECT_EQ(RealToText(0.5), "0.5");
    EXPECT_EQ(RealToText(-0.0), "0");
}

TEST(RealToTextTest, RoundingUpToSixteenDigitsKeepsTheValue) {
    EXPECT_EQ(RealToText(std::nextafter(1.0, 0.0)), "1");
    EXPECT_EQ(RealToText(9.9999999999999999e5), "1000000");
}

TEST(RealToTextTest, ExtremesAreSafe) {
    EXPECT_EQ(RealToText(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(RealToText(-std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(RealToText(std::nan("")), "0");
    const std::string max = RealToText(DBL_MAX).str();
    EXPECT_EQ(max.size(), 309u);
    EXPECT_EQ(max.substr(0, 15), "179769313486232");
    const std::string tiny = RealToText(5e-324).str();
    EXPECT_EQ(tiny.substr(0, 2), "0.");
    EXPECT_EQ(tiny.find_first_not_of('0', 2), 325u);
}

TEST(RealToTextTest, ReadsBackThroughTextToReal) {
    for (double x : {2.5, 100.0, 0.25, -7.5, 1e20, 65536.0, 1e-3}) EXPECT_EQ(TextToReal(RealToText(x).view()), x) << x;
}

TEST(AsIntegerTest, RealsRoundToEvenAndWrap) {
    EXPECT_EQ(AsInteger(Real(2.5)), 2);
    EXPECT_EQ(AsInteger(Real(3.5)), 4);
    EXPECT_EQ(AsInteger(Real(-2.5)), -2);
    EXPECT_EQ(AsInteger(Real(-3.7)), -4);
    EXPECT_EQ(AsInteger(Real(4294967301.0)), 5);  // low 32 bits of the 64-bit rounding
    EXPECT_EQ(AsInteger(Real(2147483648.0)), std::numeric_limits<std::int32_t>::min());
}

TEST(AsIntegerTest, NonFiniteAndOutOfRangeGiveZero) {
    EXPECT_EQ(AsInteger(Real(std::numeric_limits<double>::infinity())), 0);
    EXPECT_EQ(AsInteger(Real(-std::numeric_limits<double>::infinity())), 0);
    EXPECT_EQ(AsInteger(Real(std::nan(""))), 0);
    EXPECT_EQ(AsInteger(Real(1e300)), 0);
    EXPECT_EQ(AsInteger(Real(9.3e18)), 0);
    std::int64_t n = 0;
    EXPECT_TRUE(RoundToInt64(-9223372036854775808.0, n));
    EXPECT_EQ(n, std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(RoundToInt64(9223372036854775808.0, n));
}

TEST(AsIntegerTest, OtherKinds) {
    EXPECT_EQ(AsInteger(Text("4.9")), 4);
    EXPECT_EQ(AsInteger(Int(-9)), -9);
    TData v;
    EXPECT_EQ(AsInteger(v), 0);
    v.Kind = dtBreak;
    v.IntValue = 12;
    EXPECT_EQ(AsInteger(v), 0);
    v.Kind = dtArray;
    EXPECT_EQ(AsInteger(v), 0);
}

TEST(AsRealTest, ConvertsEachKind) {
    EXPECT_EQ(AsReal(Text("4.9")), 4.9);
    EXPECT_EQ(AsReal(Int(-2147483647 - 1)), -2147483648.0);
    EXPECT_EQ(AsReal(Real(0.25)), 0.25);
    TData v;
    v.Kind = dtMatrix;
    v.RealValue = 3.0;
    EXPECT_EQ(AsReal(v), 0.0);
}

TEST(AsTextTest, ConvertsEachKind) {
    EXPECT_EQ(AsText(Int(-15)), "-15");
    EXPECT_EQ(AsText(Real(0.5)), "0.5");
    EXPECT_EQ(AsText(Real(1e15)), "1000000000000000");
    TData v;
    v.TextValue = "stale";
    EXPECT_TRUE(AsText(v).empty());
    v.Kind = dtBreak;
    EXPECT_TRUE(AsText(v).empty());
    v.Kind = dtArray;
    EXPECT_TRUE(AsText(v).empty());
}

TEST(AsFlagTest, OnlyIntegerZeroIsFalse) {
    EXPECT_TRUE(AsFlag(TData()));
    EXPECT_TRUE(AsFlag(Text("0")));
    EXPECT_TRUE(AsFlag(Real(0.0)));
    EXPECT_FALSE(AsFlag(Int(0)));
    EXPECT_TRUE(AsFlag(Int(-1)));
}

TEST(TextSharingTest, CopiesShareCharacters) {
    TData a = Text("shared text");
    EXPECT_EQ(a.TextValue.UseCount(), 1u);
    TData b = a;
    EXPECT_TRUE(b.TextValue.SharesWith(a.TextValue));
    EXPECT_EQ(a.TextValue.UseCount(), 2u);
    TText s = AsText(a);
    EXPECT_TRUE(s.SharesWith(a.TextValue));
    EXPECT_EQ(a.TextValue.UseCount(), 3u);
}

TEST(TextSharingTest, OverwritingReleasesTheOldTextOnce) {
    TData holder = Text("old");
    TText old = holder.TextValue;  // watch the old text
    EXPECT_EQ(old.UseCount(), 2u);
    const TData source = Text("new");
    holder = source;
    EXPECT_EQ(old.UseCount(), 1u);
    EXPECT_TRUE(holder.TextValue.SharesWith(source.TextValue));
    EXPECT_EQ(source.TextValue.UseCount(), 2u);
}

TEST(TextSharingTest, BytesIncludingZeroSurvive) {
    const std::string bytes("a\0b\xff", 4);
    TData v;
    SetText(v, TText(bytes));
    EXPECT_EQ(v.TextValue.size(), 4u);
    EXPECT_EQ(v.TextValue.view(), bytes);
    EXPECT_EQ(v.TextValue.data()[4], '\0');
}

TEST(BuildersTest, SetOnlyTheirFieldsAndClearTheChain) {
    TData next;
    TData v;
    v.NextValue = &next;
    v.RealValue = 9.0;
    SetInteger(v, 3);
    EXPECT_EQ(v.Kind, dtInteger);
    EXPECT_EQ(v.NextValue, nullptr);
    EXPECT_EQ(v.RealValue, 9.0);  // untouched
    SetText(v, "x");
    SetNull(v);
    EXPECT_TRUE(IsNull(v));
    EXPECT_EQ(v.TextValue, "x");  // released only on the next overwrite
}

}  // namespace
