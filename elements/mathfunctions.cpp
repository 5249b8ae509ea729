#include "elements/mathfunctions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "framework/data.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double Rounded(double x, double y) {
    std::int64_t n = 0;
    if (y == 0.0 || !RoundToInt64(x / y, n)) return NaN;
    return static_cast<double>(n) * y;
}

double Fraction(double x, double y) {
    if (y == 0.0) return NaN;
    const double q = x / y;
    if (!std::isfinite(q)) return NaN;  // modf would call an infinity's fraction 0
    double whole;
    return std::modf(q, &whole) * y;
}

double Truncated(double x, double y) {
    if (y == 0.0) return NaN;
    const double t = std::trunc(x / y);
    // Within the 64-bit range, as the integer it stands for.
    return t >= -9223372036854775808.0 && t < 9223372036854775808.0 ? t * y : NaN;
}

double Logarithm(double base, double x) {
    if (base <= 0.0 || x <= 0.0) return NaN;
    const long double lb = std::log(static_cast<long double>(base));
    if (lb == 0.0L) return NaN;  // base 1
    const long double r = std::log(static_cast<long double>(x)) / lb;
    return std::fabs(r) <= static_cast<long double>(DBL_MAX) ? static_cast<double>(r) : NaN;
}

// The hyperbolic ones through the library: the same functions, without the
// formulas' needless overflow of e^x at large |x|.
constexpr TMathFunctionRow Functions[] = {
    {"cos", TArity::One, [](double x, double, double f) { return std::cos(x * f); }},
    {"sin", TArity::One, [](double x, double, double f) { return std::sin(x * f); }},
    {"tg", TArity::One, [](double x, double, double f) { return std::cos(x * f) == 0.0 ? NaN : std::tan(x * f); }},
    {"ctg", TArity::One, [](double x, double, double f) { return std::sin(x * f) == 0.0 ? NaN : 1.0 / std::tan(x * f); }},
    {"arccos", TArity::One,
     [](double x, double, double f) { return x > 1.0 || x < -1.0 ? NaN : std::atan2(std::sqrt(1.0 - x * x), x) / f; }},
    {"arcsin", TArity::One,
     [](double x, double, double f) { return x > 1.0 || x < -1.0 ? NaN : std::atan2(x, std::sqrt(1.0 - x * x)) / f; }},
    {"arctg", TArity::One, [](double x, double, double f) { return std::atan2(x, 1.0) / f; }},
    {"arcctg", TArity::One, [](double x, double, double f) { return std::atan2(1.0, x) / f; }},
    {"atan", TArity::Two, [](double x, double y, double f) { return std::atan2(x, y) / f; }},
    {"ch", TArity::One, [](double x, double, double) { return std::cosh(x); }},
    {"sh", TArity::One, [](double x, double, double) { return std::sinh(x); }},
    {"th", TArity::One, [](double x, double, double) { return std::tanh(x); }},
    {"cth", TArity::One, [](double x, double, double) { return x == 0.0 ? NaN : 1.0 / std::tanh(x); }},
    {"arcch", TArity::One, [](double x, double, double) { return x < 1.0 ? NaN : std::acosh(x); }},
    {"arcsh", TArity::One, [](double x, double, double) { return std::asinh(x); }},
    {"arcth", TArity::One, [](double x, double, double) { return x >= 1.0 || x <= -1.0 ? NaN : std::atanh(x); }},
    {"arccth", TArity::One, [](double x, double, double) { return x >= -1.0 && x <= 1.0 ? NaN : std::atanh(1.0 / x); }},
    {"log", TArity::Two, [](double x, double y, double) { return Logarithm(x, y); }},
    {"lg", TArity::One, [](double x, double, double) { return x <= 0.0 ? NaN : std::log10(x); }},
    {"ln", TArity::One, [](double x, double, double) { return x <= 0.0 ? NaN : std::log(x); }},
    {"exp", TArity::One, [](double x, double, double) { return std::exp(x); }},
    {"sqr", TArity::One, [](double x, double, double) { return x * x; }},
    {"sqrt", TArity::One, [](double x, double, double) { return x < 0.0 ? NaN : std::sqrt(x); }},
    {"abs", TArity::One, [](double x, double, double) { return x < 0.0 ? -x : x; }},
    {"sign", TArity::One, [](double x, double, double) { return x < 0.0 ? -1.0 : x > 0.0 ? 1.0 : x; }},
    {"round", TArity::OneOrTwo, [](double x, double y, double) { return Rounded(x, y); }},
    {"frac", TArity::OneOrTwo, [](double x, double y, double) { return Fraction(x, y); }},
    {"trunc", TArity::OneOrTwo, [](double x, double y, double) { return Truncated(x, y); }},
    {"min", TArity::OneOrMore, [](double x, double y, double) { return std::min(x, y); }},
    {"max", TArity::OneOrMore, [](double x, double y, double) { return std::max(x, y); }},
};

}  // namespace

const TMathFunctionRow* FindMathFunction(std::string_view name) {
    for (const TMathFunctionRow& f : Functions)
        if (f.Name == name) return &f;
    return nullptr;
}
