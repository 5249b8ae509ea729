#pragma once
// TQXMathParse: evaluates an arithmetic expression over its arguments %1..%N
// on every doCalc. A recursive-descent interpreter straight over the text;
// nothing is compiled or cached between evaluations.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/events.h"

// What an Array value (dtArray) refers to through ObjectRef: the method
// records of the element that offers it. The first belongs to that element;
// the evaluator only calls the second, the item read.
struct TArrayMethods {
    void* FirstCode = nullptr;
    void* FirstObject = nullptr;
    // index holds a Real (not rounded); fills result; false: no such item.
    bool (*ReadItem)(void* object, const TData& index, TData& result) = nullptr;
    void* ReadItemObject = nullptr;
};

// The same for a Matrix value (dtMatrix); an item left NULL means none.
struct TMatrixMethods {
    void* FirstCode = nullptr;
    void* FirstObject = nullptr;
    void (*ReadItem)(void* object, std::int32_t i, std::int32_t j, TData& result) = nullptr;
    void* ReadItemObject = nullptr;
};

// Token kinds of the tokenizer.
enum : std::uint8_t {
    tkInvalid = 0,
    tkWord = 1,
    tkReal = 2,
    tkInteger = 3,
    tkPunct = 4,
    tkOperator = 5,
    tkEnd = 6,
    tkHex = 7,
};

// Error codes; -1 means none.
enum : std::int16_t {
    mpNoError = -1,
    mpSyntaxError = 0,
    mpCalcError = 1,
};

// Text of the NULL value Result gives after a failed evaluation; another
// evaluator reading it takes over the error code in IntValue.
inline constexpr std::string_view MathParseErrorMarker = "MathParse Exception";

// Nesting deeper than this ("(((...", nested calls) is a syntax error
// rather than a stack overflow.
inline constexpr int MathParseMaxDepth = 200;

class TQXMathParse {
public:
    std::int32_t ArgCount = 0;
    std::string TokenText;  // the token current when the last evaluation stopped
    std::uint8_t TokenKind = tkInvalid;
    TText Expression;  // the text and the end byte 0x01
    // 1-based: -1 after success, the reported error position after a failure.
    // 32-bit, so a long text cannot wrap it.
    std::int32_t ReadPos = 0;
    double Value = 0.0;  // last result; also %0
    double Default = 0.0;
    // 1 or pi/180. Starts at 1, which is what Degrees false sets.
    double AngleFactor = 1.0;
    std::int16_t ErrorCode = mpSyntaxError;  // zero-filled: no Default yet
    TData EventValue;  // the value of the last doCalc; unlinked arguments take it
    std::vector<double> ArgValues;
    std::vector<bool> ArgRead;
    std::vector<TQX_Event> Arg;  // Arg[k-1] is the data-in point Argk
    TQX_Event onError;
    TQX_Event onResult;
    bool ResultReal = false;

    void SetArgCount(std::int32_t count);
    void SetExpression(std::string_view text);
    void SetDefault(double value);
    void SetDegrees(bool degrees);

    // Event in: evaluates; forwards the result to onResult, or the error
    // code to onError (a message box when onError is unlinked).
    void doCalc(TData& value, std::uint16_t index);
    // Data out: the last result, or the error marker after a failure.
    void readResult(TData& value, std::uint16_t index);

private:
    bool busy_ = false;  // an argument read that leads back into doCalc is ignored
};
