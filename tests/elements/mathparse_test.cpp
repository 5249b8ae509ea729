// The evaluator's grammar and arithmetic: precedence, numbers, functions,
// errors and where they are reported.
#include "tests/elements/mathparse_fixture.h"

namespace {

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

}  // namespace
