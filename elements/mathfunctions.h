#pragma once
// The functions of the expression evaluator (elements/mathparse.h): one row
// each, its name, how many arguments it takes, and the computation with its
// domain check. A domain error gives NaN, which the evaluator reports as a
// calculation error, as it does an overflow.

#include <cstdint>
#include <string_view>

enum class TArity : std::uint8_t { One, Two, OneOrTwo, OneOrMore };

// x and y: the first and second argument (y: the optional step, else 1);
// angleFactor: 1 or pi/180. A OneOrMore function folds two arguments.
using TMathFunction = double (*)(double x, double y, double angleFactor);

struct TMathFunctionRow {
    std::string_view Name;
    TArity Args;
    TMathFunction Compute;
};

// The row of a function by its lower-case name, or nullptr.
const TMathFunctionRow* FindMathFunction(std::string_view name);
