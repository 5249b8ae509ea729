#include "elements/mathparse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/fake_msgbox.h"
#include "tests/support/probes.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace {

struct FakeArray {
    TArrayMethods Methods;
    std::vector<double> Items;
    double LastIndex = -1;
    int Reads = 0;
    FakeArray() {
        Methods.ReadItem = &Read;
        Methods.ReadItemObject = this;
    }
    static bool Read(void* self, const TData& index, TData& result) {
        auto* a = static_cast<FakeArray*>(self);
        a->LastIndex = index.RealValue;
        const double i = index.RealValue;
        if (index.Kind != dtReal || i < 0 || i >= static_cast<double>(a->Items.size()) || i != std::floor(i)) return false;
        SetReal(result, a->Items[static_cast<std::size_t>(i)]);
        return true;
    }
    void readArray(TData& value, std::uint16_t) {
        ++Reads;
        value.Kind = dtArray;
        value.ObjectRef = &Methods;
    }
};

struct FakeMatrix {
    TMatrixMethods Methods;
    std::int32_t LastI = -99, LastJ = -99;
    FakeMatrix() {
        Methods.ReadItem = &Read;
        Methods.ReadItemObject = this;
    }
    // Item (i, j) is 10 * i + j inside 3 x 3; nothing outside.
    static void Read(void* self, std::int32_t i, std::int32_t j, TData& result) {
        auto* m = static_cast<FakeMatrix*>(self);
        m->LastI = i;
        m->LastJ = j;
        if (i >= 0 && i < 3 && j >= 0 && j < 3) SetInteger(result, 10 * i + j);
    }
    void readMatrix(TData& value, std::uint16_t) {
        value.Kind = dtMatrix;
        value.ObjectRef = &Methods;
    }
};

class MathParse : public ::testing::Test {
protected:
    void SetUp() override { StartFramework(); }
    void TearDown() override { StopFramework(); }

    // The order a scheme uses.
    void Configure(TQXMathParse& e, const std::string& expr, int args = 0, bool real = true, bool degrees = false) {
        e.SetArgCount(args);
        e.SetExpression(expr);
        e.ResultReal = real;
        e.SetDefault(0.0);
        e.SetDegrees(degrees);
    }
    void Link(TQXMathParse& e) {
        e.onResult = QX_LINK(&results, doEvent, 0);
        e.onError = QX_LINK(&errors, doEvent, 0);
    }
    void Calc(TQXMathParse& e, TData in = TData()) { FireEvent(QX_LINK(&e, doCalc, 0), in); }
    void Calc(TQXMathParse& e, std::int32_t in) {
        TData v;
        SetInteger(v, in);
        Calc(e, v);
    }

    double Eval(const std::string& expr, bool degrees = false) {
        TQXMathParse e;
        Configure(e, expr, 0, true, degrees);
        Link(e);
        results.Seen.clear();
        errors.Seen.clear();
        Calc(e);
        EXPECT_EQ(e.ErrorCode, mpNoError) << expr << " failed at " << e.ReadPos;
        EXPECT_EQ(results.Seen.size(), 1u) << expr;
        return e.Value;
    }
    // (code, position) of a failing expression.
    std::pair<int, int> Fails(const std::string& expr, bool degrees = false) {
        TQXMathParse e;
        Configure(e, expr, 0, true, degrees);
        Link(e);
        errors.Seen.clear();
        results.Seen.clear();
        Calc(e);
        EXPECT_TRUE(results.Seen.empty()) << expr;
        EXPECT_EQ(errors.Seen.size(), 1u) << expr;
        if (!errors.Seen.empty()) {
            EXPECT_EQ(errors.Seen[0].IntValue, e.ErrorCode);
        }
        return {e.ErrorCode, e.ReadPos};
    }

    FakeMessageBox boxes;  // no real box in a test run
    TRecorder results, errors;
};

using P = std::pair<int, int>;
constexpr int Syntax = mpSyntaxError;
constexpr int Calc1 = mpCalcError;

TEST_F(MathParse, ErrorCodesAndPositions) {
    EXPECT_EQ(Fails("1/0"), P(Calc1, 3));
    EXPECT_EQ(Fails("2+*3"), P(Syntax, 3));
    EXPECT_EQ(Fails("sqrt(-1)"), P(Calc1, 8));
    EXPECT_EQ(Fails("1 +"), P(Syntax, 3));
    EXPECT_EQ(Fails(""), P(Syntax, 0));
    EXPECT_EQ(Fails("(1"), P(Syntax, 2));       // missing ")": at the end
    EXPECT_EQ(Fails("2 3"), P(Syntax, 3));      // text left over
    EXPECT_EQ(Fails("foo(1)"), P(Syntax, 3));   // unknown word
    EXPECT_EQ(Fails("sin 1"), P(Syntax, 5));    // no "(" after a function name
    EXPECT_EQ(Fails("sin(1, 2)"), P(Syntax, 6));
    EXPECT_EQ(Fails("atan(1)"), P(Syntax, 7));  // second argument missing
    EXPECT_EQ(Fails("log(2)"), P(Syntax, 6));
    EXPECT_EQ(Fails("1 # 2"), P(Syntax, 2));    // an invalid character consumes nothing
    EXPECT_EQ(Fails("2*-3"), P(Syntax, 2));     // the operator a sign follows is the bad token
    EXPECT_EQ(Fails("2 *  -3"), P(Syntax, 3));
    EXPECT_EQ(Fails("(1 < 2) / (2 > 3)"), P(Calc1, 17));
    EXPECT_EQ(Fails("ln(0) + 1"), P(Calc1, 5));  // stops at the first error
}

TEST_F(MathParse, PrecedenceAndSigns) {
    EXPECT_EQ(Eval("2+3*4"), 14);
    EXPECT_EQ(Eval("2^3^2"), 64);
    EXPECT_EQ(Eval("-2^2"), 4);
    EXPECT_EQ(Eval("-3^2"), 9);
    EXPECT_EQ(Eval("1 < 2 and 3 < 4"), 1);
    EXPECT_EQ(Eval("-2 and 3"), -1);
    EXPECT_EQ(Eval("2*(-3)"), -6);
    EXPECT_EQ(Eval("2 < 3 = 1"), 1);
    EXPECT_EQ(Eval("3 >= 3"), 1);
    EXPECT_EQ(Eval("3 <= 2"), 0);
    EXPECT_EQ(Eval("1 xor 1"), 0);
    EXPECT_EQ(Eval("0 or 2"), 1);
    EXPECT_EQ(Eval("+5 - 1 - 1"), 3);
    EXPECT_EQ(Fails("2*-3").first, Syntax);
    EXPECT_EQ(Fails("2^-1").first, Syntax);
    EXPECT_EQ(Fails("5--2").first, Syntax);
    EXPECT_EQ(Fails("2 * -3").first, Syntax);
    EXPECT_EQ(Fails("1 and -1").first, Syntax);  // after and/or/xor comes a primary
    EXPECT_EQ(Fails("1 <> 2").first, Syntax);
}

TEST_F(MathParse, DivAndMod) {
    EXPECT_EQ(Eval("7 mod -2"), 1);
    EXPECT_EQ(Eval("-7 div 2"), -3);
    EXPECT_EQ(Eval("2.5 div 1"), 2);
    EXPECT_EQ(Eval("7.5 div 2"), 4);
    EXPECT_EQ(Eval("-7 mod 3"), -1);
    EXPECT_EQ(Eval("7 DIV 2"), 3);
    EXPECT_EQ(Fails("1 div 0.4").first, Calc1);  // the divisor rounds to 0
    EXPECT_EQ(Fails("1 mod 0").first, Calc1);
    // -2^63 exactly (the sign belongs to the operand of "^"). Its quotient
    // by -1 is 2^63, one past the 64-bit range, yet exact as a double.
    EXPECT_EQ(Eval("-2^63 div -1"), 9223372036854775808.0);
    EXPECT_EQ(Eval("-2^63 mod -1"), 0);
    EXPECT_EQ(Eval("-2^63 div 1"), -9223372036854775808.0);
    EXPECT_EQ(Eval("(2^62 + 2^62 - 1024) div 2"), 4611686018427387392.0);
    // The digit-by-digit reading of this literal rounds up past 2^63, so its
    // negation has no 64-bit integer to round to.
    EXPECT_EQ(Fails("-9223372036854775808 div -1").first, Calc1);
    EXPECT_EQ(Fails("2^63 div 2").first, Calc1);
    EXPECT_EQ(Fails("1e19 div 2").first, Calc1);  // beyond 64 bits
    EXPECT_EQ(Fails("7 mod 2^63").first, Calc1);
}

TEST_F(MathParse, NumbersAndWords) {
    EXPECT_EQ(Eval("$ff"), 255);
    EXPECT_EQ(Eval("0xff"), 255);
    EXPECT_EQ(Eval("$FFFFFFFF"), -1);
    EXPECT_EQ(Eval("$123456789"), 0x23456789);  // earlier digits shifted out
    EXPECT_EQ(Fails("0XFF").first, Syntax);
    EXPECT_EQ(Fails("$").first, Syntax);
    EXPECT_EQ(Fails("0x").first, Syntax);
    EXPECT_EQ(Eval("5."), 5);
    EXPECT_EQ(Eval(".5"), 0.5);
    EXPECT_EQ(Fails(".").first, Syntax);
    EXPECT_EQ(Eval("1 e 5"), 100000);
    EXPECT_EQ(Eval("1.5e-3"), 0.0015);
    EXPECT_EQ(Eval("2E+2"), 200);
    EXPECT_EQ(Eval("1e - 2"), 0.01);
    EXPECT_EQ(Fails("2 e").first, Syntax);
    EXPECT_EQ(Eval("\t1\t+ 2 "), 3);
    EXPECT_EQ(Eval("SIN(PI/2)"), Eval("sin(pi/2)"));
    EXPECT_EQ(Eval("E"), 2.718281828459045);
    EXPECT_EQ(Eval("pI"), 3.141592653589793);
    EXPECT_EQ(Fails("and").first, Syntax);
    EXPECT_EQ(Fails("\xE0\xE1\xE2").first, Syntax);  // a Cyrillic word, unknown
    EXPECT_EQ(Fails("\xA8").first, Syntax);           // the letter Yo is not a letter here
}

TEST_F(MathParse, Functions) {
    const double pi = 3.141592653589793;
    struct Case {
        const char* expr;
        double want;
    };
    const Case cases[] = {
        {"cos(0)", 1},          {"sin(pi/2)", 1},           {"tg(pi/4)", 1},
        {"ctg(pi/4)", 1},       {"arccos(-1)", pi},         {"arcsin(1)", pi / 2},
        {"arctg(1)", pi / 4},   {"arcctg(-1)", 3 * pi / 4}, {"atan(1, -1)", 3 * pi / 4},
        {"ch(0)", 1},           {"sh(1)", std::sinh(1.0)},  {"th(1)", std::tanh(1.0)},
        {"cth(1)", 1 / std::tanh(1.0)},                     {"arcch(1)", 0},
        {"arcsh(1)", std::asinh(1.0)},                      {"arcth(0.5)", std::atanh(0.5)},
        {"arccth(2)", std::atanh(0.5)},                     {"log(2, 8)", 3},
        {"lg(1000)", 3},        {"ln(e)", 1},               {"exp(1)", std::exp(1.0)},
        {"sqr(-3)", 9},         {"sqrt(16)", 4},            {"abs(-2)", 2},
        {"sign(-7)", -1},       {"sign(0)", 0},             {"sign(3)", 1},
        {"round(2.5)", 2},      {"round(3.5)", 4},          {"round(17, 5)", 15},
        {"trunc(-2.7)", -2},    {"trunc(17, 5)", 15},       {"frac(-2.75)", -0.75},
        {"frac(7, 5)", 2},      {"min(3)", 3},              {"max(1, 5, 2)", 5},
        {"min(4, -1, 2)", -1},  {"th(1000)", 1},            {"arcsh(-1e9)", std::asinh(-1e9)},
    };
    for (const Case& c : cases) EXPECT_NEAR(Eval(c.expr), c.want, 1e-12) << c.expr;

    const char* domainErrors[] = {"arccos(1.5)", "arcsin(-2)", "cth(0)",    "arcch(0.5)", "arcth(1)",
                                  "arccth(1)",   "arccth(-1)", "log(0, 2)", "log(2, -1)", "lg(0)",
                                  "ln(-1)",      "sqrt(-0.1)", "ctg(0)"};
    for (const char* expr : domainErrors) EXPECT_EQ(Fails(expr).first, Calc1) << expr;
}

TEST_F(MathParse, DegreeMode) {
    EXPECT_NEAR(Eval("sin(30)", true), 0.5, 1e-12);
    EXPECT_NEAR(Eval("arctg(1)", true), 45, 1e-12);
    EXPECT_NEAR(Eval("atan(1, 0)", true), 90, 1e-12);
    EXPECT_NEAR(Eval("cos(0)"), 1, 0);
    EXPECT_NEAR(Eval("cos(60)"), std::cos(60.0), 1e-15);
    EXPECT_NEAR(Eval("ch(1)", true), std::cosh(1.0), 1e-12);  // hyperbolic: no angle factor
}

TEST_F(MathParse, PercentZeroIsTheLastGoodResult) {
    TQXMathParse e;
    Configure(e, "%0 + 1");
    e.SetDefault(10);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.Value, 11);
    Calc(e);
    EXPECT_EQ(e.Value, 12);
    e.SetExpression("%0 + 1 / (%0 - 12)");
    Calc(e);  // fails
    EXPECT_EQ(e.ErrorCode, Calc1);
    e.SetExpression("%0 + 1");
    Calc(e);
    EXPECT_EQ(e.Value, 11);  // back from Default
    e.SetExpression("%0[1]");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);  // %0 cannot be indexed
}

TEST_F(MathParse, UnlinkedArgumentsTakeTheIncomingChain) {
    TQXMathParse e;
    Configure(e, "%2 - %1", 2);
    Link(e);
    Calc(e, 5);
    EXPECT_EQ(e.Value, 5);

    TData second;
    SetInteger(second, 3);
    TData first;
    SetInteger(first, 10);
    first.NextValue = &second;
    Calc(e, first);
    EXPECT_EQ(e.Value, 10 - 3);
    EXPECT_EQ(e.EventValue.NextValue, nullptr);  // no pointer into a finished frame is kept
}

TEST_F(MathParse, EachArgumentIsReadOncePerEvaluation) {
    TQXMathParse e;
    TSource s;
    SetInteger(s.Value, 4);
    Configure(e, "%1 * %1 + %01", 1);
    e.Arg[0] = QX_LINK(&s, readValue, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.Value, 20);
    EXPECT_EQ(s.Reads, 1);
    SetInteger(s.Value, 2);
    Calc(e);
    EXPECT_EQ(e.Value, 6);
    EXPECT_EQ(s.Reads, 2);

    s.Value.Kind = dtBreak;  // a Break answer falls back to the incoming value
    Calc(e, 3);
    EXPECT_EQ(e.Value, 12);

    EXPECT_EQ(Fails("%1").first, Syntax);  // ArgCount 0
    e.SetExpression("%2");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%1.5");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%4294967297");  // wraps to 1 in 32 bits, yet is no argument 1
    Calc(e);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    e.SetExpression("%4294967295");  // wraps to -1
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
}

TEST_F(MathParse, ErrorMarkerPassesBetweenEvaluators) {
    for (const char* firstExpr : {"1/0", "1+"}) {
        TQXMathParse first, second;
        Configure(first, firstExpr);
        Configure(second, "%1 + 1", 1);
        first.onError = QX_LINK(&errors, doEvent, 0);
        Link(second);
        second.Arg[0] = QX_LINK(&first, readResult, 0);
        Calc(first);
        TData marker;
        first.readResult(marker, 0);
        EXPECT_EQ(marker.Kind, dtNull);
        EXPECT_EQ(marker.TextValue, "MathParse Exception");
        EXPECT_EQ(marker.IntValue, first.ErrorCode);

        errors.Seen.clear();
        Calc(second);
        EXPECT_EQ(second.ErrorCode, first.ErrorCode) << firstExpr;
        ASSERT_EQ(errors.Seen.size(), 1u);
        EXPECT_EQ(errors.Seen[0].IntValue, first.ErrorCode);
    }
}

TEST_F(MathParse, ResultDelivery) {
    TQXMathParse e;
    TData r;
    e.readResult(r, 0);  // never given a Default
    EXPECT_EQ(r.Kind, dtNull);
    EXPECT_EQ(r.IntValue, 0);
    EXPECT_EQ(r.TextValue, "MathParse Exception");

    Configure(e, "%1 / 2", 1, false);
    e.SetDefault(7.5);
    e.readResult(r, 0);
    EXPECT_EQ(r.Kind, dtInteger);
    EXPECT_EQ(r.IntValue, 8);
    Link(e);
    Calc(e, 5);  // 2.5
    Calc(e, 7);  // 3.5
    ASSERT_EQ(results.Seen.size(), 2u);
    EXPECT_EQ(results.Seen[0].Kind, dtInteger);
    EXPECT_EQ(results.Seen[0].IntValue, 2);
    EXPECT_EQ(results.Seen[1].IntValue, 4);
    e.ResultReal = true;
    e.readResult(r, 0);
    EXPECT_EQ(r.Kind, dtReal);
    EXPECT_EQ(r.RealValue, 3.5);
    Calc(e, 3);
    EXPECT_EQ(results.Seen.back().Kind, dtReal);
    EXPECT_EQ(results.Seen.back().RealValue, 1.5);
}

TEST_F(MathParse, IndexedArguments) {
    FakeArray a;
    a.Items = {1.5, 2.5, 3.5};
    FakeMatrix m;
    TQXMathParse e;
    Configure(e, "%1[1] + %1[0 + 2] + %2[1, 2.5]", 2);
    e.Arg[0] = QX_LINK(&a, readArray, 0);
    e.Arg[1] = QX_LINK(&m, readMatrix, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    EXPECT_EQ(e.Value, 2.5 + 3.5 + 12);
    EXPECT_EQ(a.Reads, 2);  // not cached
    EXPECT_EQ(m.LastJ, 2);  // 2.5 rounds to even

    e.SetExpression("%1[1.5]");
    Calc(e);
    EXPECT_EQ(a.LastIndex, 1.5);  // passed unrounded
    EXPECT_EQ(e.ErrorCode, Calc1);

    for (const char* expr : {"%2[3, 0]", "%1[0, 0]", "%2[0]", "%1[7]"}) {
        e.SetExpression(expr);
        Calc(e);
        EXPECT_EQ(e.ErrorCode, Calc1) << expr;
    }
    e.SetExpression("%1[0");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%2[0, 0");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
}

TEST_F(MathParse, MessageBoxWhenOnErrorIsUnlinked) {
    TQXMathParse e;
    Configure(e, "2+*3");
    e.onResult = QX_LINK(&results, doEvent, 0);
    int dummyWindow = 0;
    SetMessageOwner(&dummyWindow);
    TData v;
    SetInteger(v, 42);
    FireEvent(QX_LINK(&e, doCalc, 0), v);
    SetMessageOwner(nullptr);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().Caption, "String-Debug");
    EXPECT_EQ(boxes.Last().Text,
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xF1\xE8\xED\xF2\xE0\xEA\xF1\xE8\xF1\xE0 \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
              "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 3");
    EXPECT_EQ(boxes.Last().Owner, &dummyWindow);
    EXPECT_EQ(boxes.Last().Flags, mbOk);
    EXPECT_TRUE(results.Seen.empty());
    EXPECT_EQ(v.Kind, dtInteger);  // nothing forwarded
    EXPECT_EQ(v.IntValue, 42);

    e.SetExpression("(1) + ln(0)");
    // The state is final while the box is up: other chains may use the element.
    TData seen;
    boxes.WhileShown = [&] {
        e.readResult(seen, 0);
        boxes.WhileShown = nullptr;
        e.SetExpression("6*7");
        Calc(e);
    };
    Calc(e);
    ASSERT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Boxes[1].Text,
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xE2\xFB\xF7\xE8\xF1\xEB\xE5\xED\xE8\xFF \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
              "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 11");
    EXPECT_EQ(seen.Kind, dtNull);
    EXPECT_EQ(seen.IntValue, 1);
    ASSERT_EQ(results.Seen.size(), 1u);
    EXPECT_EQ(results.Seen[0].RealValue, 42);
}

TEST_F(MathParse, ArithmeticFaultsAreCalculationErrors) {
    const char* faults[] = {
        "1e308 * 10",  "1e308 + 1e308", "-1e308 - 1e308", "1e308 / 1e-10", "exp(1000)",  "sqr(1e200)",
        "ch(1000)",    "sh(-1000)",     "2 ^ 5000",       "10 ^ 400.5",    "0 ^ 0",      "0 ^ (-2)",
        "0 ^ 0.5",     "(-8) ^ (1/3)",  "log(1, 5)",      "round(5, 0)",   "frac(5, 0)", "trunc(5, 0)",
        "round(1e300)", "trunc(-1e19)", "round(1, 1e-320)", "1e400",       "cth(1e-320)", "0.5 ^ (-2000)",
    };
    for (const char* expr : faults) EXPECT_EQ(Fails(expr).first, Calc1) << expr;

    EXPECT_EQ(Eval("(-2) ^ 3"), -8);
    EXPECT_EQ(Eval("2 ^ (-2)"), 0.25);
    EXPECT_EQ(Eval("4 ^ 0.5"), 2);
    EXPECT_EQ(Eval("(-0.5) ^ 4294967296"), 0);  // integral beyond 32 bits keeps the sign rule
    EXPECT_EQ(Eval("(-1) ^ 4294967297"), -1);
}

TEST_F(MathParse, BadArgumentsAndDefaults) {
    TQXMathParse e;
    Configure(e, "%1 + 1", 1);
    Link(e);
    TData text;
    SetText(text, "1e999");  // converts to infinity
    Calc(e, text);
    EXPECT_EQ(e.ErrorCode, Calc1);
    SetText(text, "2.5");
    Calc(e, text);
    EXPECT_EQ(e.Value, 3.5);

    e.SetExpression("%0");
    e.SetDefault(std::nan(""));
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Calc1);

    TQXMathParse bare;  // zero-filled: no expression, no Default
    bare.onError = QX_LINK(&errors, doEvent, 0);
    Calc(bare);
    EXPECT_EQ(bare.ErrorCode, Syntax);
    EXPECT_EQ(bare.ReadPos, 0);
    bare.SetExpression("cos(0)");  // the angle factor starts as without Degrees
    bare.SetDefault(0);
    Calc(bare);
    EXPECT_EQ(bare.Value, 1);

    e.SetArgCount(-5);
    EXPECT_EQ(e.ArgCount, 0);
    e.ArgCount = 3;  // written directly past the lists: still no argument there
    e.SetExpression("%2");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);

    e.SetExpression(std::string("1\x01+"));  // the end byte ends the text early
    Calc(e);
    EXPECT_EQ(e.Value, 1);
    e.SetExpression(std::string("1+\0", 3));
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
}

TEST_F(MathParse, DeepNestingIsASyntaxErrorNotACrash) {
    EXPECT_EQ(Eval(std::string(50, '(') + "1" + std::string(50, ')')), 1);
    EXPECT_EQ(Eval("-(-(-1))"), -1);
    auto repeat = [](const std::string& piece, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += piece;
        return s;
    };
    for (const std::string& deep : {repeat("(", 100000), repeat("-(", 50000), repeat("sin(", 50000),
                                    repeat("%1[", 50000)}) {
        const P result = Fails(deep);
        EXPECT_EQ(result.first, Syntax);
        EXPECT_GT(result.second, 0);
        EXPECT_LE(result.second, static_cast<int>(deep.size()));
    }
}

// An argument read that ends up in the same element's doCalc again (a link
// cycle), or that replaces the expression, must not disturb the evaluation.
struct Meddler {
    TQXMathParse* Target = nullptr;
    int Calls = 0;
    void readValue(TData& value, std::uint16_t) {
        ++Calls;
        TData in;
        Target->doCalc(in, 0);
        Target->SetExpression("999");
        Target->SetArgCount(0);
        SetInteger(value, 5);
    }
};

TEST_F(MathParse, ReentryFromAnArgumentRead) {
    TQXMathParse e;
    Meddler m;
    m.Target = &e;
    Configure(e, "%1 * 2 + 1", 1);
    e.Arg[0] = QX_LINK(&m, readValue, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(m.Calls, 1);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    EXPECT_EQ(e.Value, 11);
    ASSERT_EQ(results.Seen.size(), 1u);
}

#ifdef _WIN32
// The real box through MessageBoxW: the Russian text must arrive intact as
// UTF-16 whatever the ANSI code page. A helper thread reads and closes it.
TEST(MathParseWin32, RealMessageBoxShowsTheRussianText) {
    StartFramework();
    TMessageBoxService* previous = SetMessageBox(nullptr);
    std::wstring shown;
    std::atomic<bool> found{false};
    std::thread closer([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            HWND box = FindWindowW(nullptr, L"String-Debug");
            if (box != nullptr) {
                EnumChildWindows(
                    box,
                    [](HWND child, LPARAM out) -> BOOL {
                        wchar_t buf[512];
                        const int n = GetWindowTextW(child, buf, 512);
                        if (n > 20) *reinterpret_cast<std::wstring*>(out) = std::wstring(buf, n);
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(&shown));
                found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    TQXMathParse e;
    e.SetArgCount(0);
    e.SetExpression("2+*3");
    e.SetDefault(0);
    TData v;
    FireEvent(QX_LINK(&e, doCalc, 0), v);
    closer.join();
    SetMessageBox(previous);
    StopFramework();
    ASSERT_TRUE(found);
    EXPECT_EQ(shown,
              L"\u041E\u0448\u0438\u0431\u043A\u0430 \u0441\u0438\u043D\u0442\u0430\u043A\u0441\u0438\u0441\u0430 "
              L"\u0432 \u044D\u043B\u0435\u043C\u0435\u043D\u0442\u0435 MathParser\r\n\u041E\u0431\u043D\u0430\u0440"
              L"\u0443\u0436\u0435\u043D\u0430 \u0432 \u043F\u043E\u0437\u0438\u0446\u0438\u0438 3");
}
#endif

}  // namespace
