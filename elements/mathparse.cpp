#include "elements/mathparse.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "elements/mathfunctions.h"
#include "elements/mathtokens.h"
#include "winlib/msgbox.h"

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double EulerE = 2.718281828459045;
constexpr long double PiExtended = 3.14159265358979323846264338327950288L;

const char SyntaxErrorText[] =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xF1\xE8\xED\xF2\xE0\xEA\xF1\xE8\xF1\xE0 \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
    "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 ";
const char CalcErrorText[] =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xE2\xFB\xF7\xE8\xF1\xEB\xE5\xED\xE8\xFF \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
    "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 ";
const char ErrorCaption[] = "String-Debug";

// Shared by every Result read after a failure; copies only count references.
const TText& MarkerText() {
    static const TText text(MathParseErrorMarker);
    return text;
}

// A value, or the error that stopped the evaluation where it arose. Once
// a level holds an error it reads no further token and passes it up.
struct TValue {
    double V = 0.0;
    std::int16_t Error = mpNoError;
    bool Ok() const { return Error < 0; }
};

constexpr TValue Syntax{0.0, mpSyntaxError};
constexpr TValue Calc{0.0, mpCalcError};

// Overflow and NaN are calculation errors: no result is ever inf or NaN.
// Functions report a domain error as NaN, so it takes the same road.
TValue Finite(double x) { return std::isfinite(x) ? TValue{x} : Calc; }

// What one evaluation leaves: the value or the error, where it stopped,
// and the token it stopped at.
struct TOutcome {
    TValue Result;
    std::int32_t NextPosition = 1;  // 1-based index of the next byte it would have read
    std::uint8_t TokenKind = tkInvalid;
    std::string TokenText;
};

// One evaluation. Its state is local, so a setter called from inside an
// argument read cannot pull the text or the position from under it.
class Evaluation : private TMathTokenizer {
public:
    Evaluation(TQXMathParse& element, const TText& text) : TMathTokenizer(text), el_(element) {}

    // expression := comparison <end>
    TOutcome Run() {
        Next();
        TValue result = Comparison();
        if (result.Ok() && kind_ != tkEnd) result = Syntax;  // text left over
        return TOutcome{result, pos_, kind_, std::move(tok_)};
    }

private:
    // --- Grammar, loosest level first ---

    // comparison := additive { ("<" | "<=" | ">" | ">=" | "=") additive }
    TValue Comparison() {
        // Every nesting passes through here; bounding it bounds the stack.
        if (depth_ >= MathParseMaxDepth) return Syntax;
        ++depth_;
        TValue left = Additive();
        while (left.Ok() && kind_ == tkPunct && (tok_[0] == '<' || tok_[0] == '>' || tok_[0] == '=')) {
            const char op = tok_[0];
            const bool orEqual = tok_.size() == 2;
            Next();
            const TValue right = Additive();
            if (!right.Ok()) {
                left = right;
                break;
            }
            const double a = left.V, b = right.V;
            const bool holds = op == '<' ? (orEqual ? a <= b : a < b) : op == '>' ? (orEqual ? a >= b : a > b) : a == b;
            left = TValue{holds ? 1.0 : 0.0};
        }
        --depth_;
        return left;
    }

    // additive := multiplicative { ("+" | "-") multiplicative }
    TValue Additive() {
        TValue left = Multiplicative();
        while (left.Ok() && kind_ == tkOperator && (tok_ == "+" || tok_ == "-")) {
            const bool plus = tok_ == "+";
            Next();
            const TValue right = Multiplicative();
            if (!right.Ok()) return right;
            left = Finite(plus ? left.V + right.V : left.V - right.V);
        }
        return left;
    }

    // multiplicative := power { ("*" | "/" | "div" | "mod") power }
    TValue Multiplicative() {
        TValue left = Power();
        while (left.Ok()) {
            char op;
            if (kind_ == tkOperator && (tok_ == "*" || tok_ == "/")) op = tok_[0];
            else if (Is(tkWord, "div")) op = 'd';
            else if (Is(tkWord, "mod")) op = 'm';
            else break;
            Next();
            const TValue right = Power();
            if (!right.Ok()) return right;
            if (op == '*') left = Finite(left.V * right.V);
            else if (op == '/') left = right.V == 0.0 ? Calc : Finite(left.V / right.V);
            else left = IntegerDivision(left.V, right.V, op == 'd');
        }
        return left;
    }

    static TValue IntegerDivision(double a, double b, bool quotient) {
        std::int64_t x = 0, y = 0;
        // Operands beyond the 64-bit range have no integer to round to.
        if (!RoundToInt64(a, x) || !RoundToInt64(b, y) || y == 0) return Calc;
        // By -1 the quotient is -x and the remainder 0. Computed in 64 bits,
        // -2^63 div -1 overflows (undefined, a trap on x86); its true value
        // 2^63 is exact as a double, which is what the result becomes anyway.
        if (y == -1) return TValue{quotient ? -static_cast<double>(x) : 0.0};
        return TValue{static_cast<double>(quotient ? x / y : x % y)};
    }

    // power := signed { "^" signed }
    TValue Power() {
        TValue left = Signed();
        while (left.Ok() && Is(tkOperator, "^")) {
            Next();
            const TValue right = Signed();
            if (!right.Ok()) return right;
            left = Raise(left.V, right.V);
        }
        return left;
    }

    static TValue Raise(double a, double b) {
        if (std::nearbyint(b) != b && a <= 0.0) return Calc;
        if (a == 0.0 && b <= 0.0) return Calc;  // 0^0 and 0^-n divide by zero
        const std::int32_t n = RoundToInt32(b);
        if (b != static_cast<double>(n)) return Finite(std::pow(a, b));
        double base = a;
        std::int64_t m = n;
        if (m < 0) {
            base = 1.0 / a;
            m = -m;
        }
        double result = 1.0;
        while (m != 0) {
            if (m & 1) result *= base;
            m >>= 1;
            if (m != 0) base *= base;
        }
        return Finite(result);
    }

    // signed := [ "+" | "-" ] logical
    TValue Signed() {
        bool negate = false;
        if (kind_ == tkOperator && (tok_ == "+" || tok_ == "-")) {
            negate = tok_ == "-";
            Next();
        }
        TValue v = Logical();
        if (negate) v.V = -v.V;
        return v;
    }

    // logical := primary { ("and" | "or" | "xor") primary }
    TValue Logical() {
        TValue left = Primary();
        while (left.Ok() && kind_ == tkWord && (tok_ == "and" || tok_ == "or" || tok_ == "xor")) {
            const char op = tok_[0];
            Next();
            const TValue right = Primary();
            if (!right.Ok()) return right;
            const bool l = left.V != 0.0, r = right.V != 0.0;
            const bool v = op == 'a' ? (l && r) : op == 'o' ? (l || r) : (l != r);
            left = TValue{v ? 1.0 : 0.0};
        }
        return left;
    }

    // primary := argument | "(" comparison ")" | "pi" | "e" | call | number | hex
    TValue Primary() {
        switch (kind_) {
            case tkPunct:
                if (tok_ == "%") return Argument();
                if (tok_ == "(") {
                    Next();
                    const TValue v = Comparison();
                    if (!v.Ok()) return v;
                    return Closing(")", v);
                }
                return Syntax;
            case tkWord: {
                if (tok_ == "pi" || tok_ == "e") return Taken(TValue{tok_ == "pi" ? Pi : EulerE});
                const TMathFunctionRow* f = FindMathFunction(tok_);
                return f != nullptr ? Call(*f) : Syntax;
            }
            case tkReal:
            case tkInteger: {
                const double v = TextToReal(tok_);
                return std::isfinite(v) ? Taken(TValue{v}) : Calc;
            }
            case tkHex:
                return Taken(TValue{static_cast<double>(hex_)});
            default:
                return Syntax;
        }
    }

    // The token was the value's last: move past it.
    TValue Taken(TValue v) {
        Next();
        return v;
    }

    // `v`, once the token `punct` that must follow it is there and passed.
    TValue Closing(std::string_view punct, TValue v) { return Is(tkPunct, punct) ? Taken(v) : Syntax; }

    // --- argument := "%" integer [ "[" comparison [ "," comparison ] "]" ] ---

    std::size_t PointCount() const {
        std::size_t n = static_cast<std::size_t>(std::max<std::int32_t>(el_.ArgCount, 0));
        n = std::min({n, el_.Arg.size(), el_.ArgValues.size(), el_.ArgRead.size()});
        return n;
    }

    TValue Argument() {
        Next();
        if (kind_ != tkInteger) return Syntax;
        const std::int32_t k = TextToInt(tok_);  // %01 is %1; a wrapped huge k comes out negative
        if (k < 0 || static_cast<std::size_t>(k) > PointCount()) return Syntax;
        Next();
        if (k == 0) return Finite(el_.Value);
        const std::size_t i = static_cast<std::size_t>(k - 1);
        if (Is(tkPunct, "[")) return Indexed(el_.Arg[i]);
        if (el_.ArgRead[i]) return TValue{el_.ArgValues[i]};

        const TQX_Event point = el_.Arg[i];  // a copy: the read may resize the list
        const TData v = FetchValue(el_.EventValue, point, nullptr);
        if (v.Kind == dtNull && v.TextValue == MathParseErrorMarker) return v.IntValue == 0 ? Syntax : Calc;
        const TValue x = Finite(AsReal(v));
        if (x.Ok() && i < PointCount()) {
            el_.ArgValues[i] = x.V;
            el_.ArgRead[i] = true;
        }
        return x;
    }

    TValue Indexed(const TQX_Event point) {  // a copy, as above
        Next();
        const TValue first = Comparison();
        if (!first.Ok()) return first;
        if (Is(tkPunct, ",")) {
            auto* matrix = static_cast<const TMatrixMethods*>(PointMatrix(point));
            if (matrix == nullptr) return Calc;
            Next();
            const TValue second = Comparison();
            if (!second.Ok()) return second;
            if (!Is(tkPunct, "]")) return Syntax;
            if (matrix->ReadItem == nullptr) return Calc;
            TData item;
            matrix->ReadItem(matrix->ReadItemObject, RoundToInt32(first.V), RoundToInt32(second.V), item);
            if (item.Kind == dtNull) return Calc;
            const TValue v = Finite(AsReal(item));
            return v.Ok() ? Taken(v) : v;
        }
        auto* array = static_cast<const TArrayMethods*>(PointArray(point));
        if (array == nullptr) return Calc;
        if (!Is(tkPunct, "]")) return Syntax;
        if (array->ReadItem == nullptr) return Calc;
        TData index;
        SetReal(index, first.V);
        TData item;
        if (!array->ReadItem(array->ReadItemObject, index, item)) return Calc;
        const TValue v = Finite(AsReal(item));
        return v.Ok() ? Taken(v) : v;
    }

    // call := name "(" comparison { "," comparison } ")", as many as the row allows
    TValue Call(const TMathFunctionRow& f) {
        Next();
        if (!Is(tkPunct, "(")) return Syntax;
        Next();
        TValue x = Comparison();
        if (!x.Ok()) return x;
        TValue y{1.0};  // the optional step
        const bool more = Is(tkPunct, ",");
        if (f.Args == TArity::Two && !more) return Syntax;
        if (more && f.Args != TArity::One) {
            do {
                Next();
                y = Comparison();
                if (!y.Ok()) return y;
                if (f.Args == TArity::OneOrMore) x.V = f.Compute(x.V, y.V, el_.AngleFactor);
            } while (f.Args == TArity::OneOrMore && Is(tkPunct, ","));
        }
        if (!Is(tkPunct, ")")) return Syntax;
        const TValue v = f.Args == TArity::OneOrMore ? x : Finite(f.Compute(x.V, y.V, el_.AngleFactor));
        return v.Ok() ? Taken(v) : v;
    }

    TQXMathParse& el_;
    int depth_ = 0;
};

}  // namespace

void TQXMathParse::SetArgCount(std::int32_t count) {
    // Point indices are 16-bit; anything beyond is not a real count.
    count = std::clamp<std::int32_t>(count, 0, 65535);
    const auto n = static_cast<std::size_t>(count);
    Arg.resize(n);
    ArgValues.resize(n, 0.0);
    ArgRead.resize(n, false);
    ArgCount = count;
}

void TQXMathParse::SetExpression(std::string_view text) {
    std::string stored(text);
    stored += MathEndByte;
    Expression = TText(stored);
}

void TQXMathParse::SetDefault(double value) {
    Default = value;
    Value = value;
    ErrorCode = mpNoError;
    ReadPos = -1;
}

void TQXMathParse::SetDegrees(bool degrees) {
    AngleFactor = degrees ? static_cast<double>(PiExtended / 180.0L) : 1.0;
}

void TQXMathParse::doCalc(TData& value, std::uint16_t) {
    if (busy_) return;  // reached again from one of our own argument reads
    busy_ = true;
    EventValue = value;
    std::fill(ArgRead.begin(), ArgRead.end(), false);
    if (ReadPos >= 0) Value = Default;

    const TText text = Expression;  // holds the bytes even if the expression is replaced meanwhile
    TOutcome outcome = Evaluation(*this, text).Run();
    const double result = outcome.Result.V;
    Value = result;
    ErrorCode = outcome.Result.Error;
    TokenKind = outcome.TokenKind;
    TokenText = std::move(outcome.TokenText);
    EventValue.NextValue = nullptr;  // the rest of the chain lives in the caller's frame
    busy_ = false;

    if (ErrorCode < 0) {
        ReadPos = -1;
        if (!ResultReal)
            ForwardInteger(value, onResult, RoundToInt32(result));
        else
            ForwardReal(value, onResult, result);
        return;
    }
    ReadPos = outcome.NextPosition - 1;
    if (onError.Linked()) {
        ForwardInteger(value, onError, ErrorCode);
        return;
    }
    // The state is final before the box: its modal loop may run other chains.
    std::string text1251 = ErrorCode == mpSyntaxError ? SyntaxErrorText : CalcErrorText;
    text1251 += IntToText(ReadPos).view();
    ShowMessage(text1251, ErrorCaption, mbOk);
}

void TQXMathParse::readResult(TData& value, std::uint16_t) {
    if (ErrorCode >= 0) {
        value.Kind = dtNull;
        value.NextEvent = nullptr;
        value.NextValue = nullptr;
        value.IntValue = ErrorCode;
        value.TextValue = MarkerText();
    } else if (!ResultReal) {
        SetInteger(value, RoundToInt32(Value));
    } else {
        SetReal(value, Value);
    }
}
