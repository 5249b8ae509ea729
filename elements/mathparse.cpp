#include "elements/mathparse.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "winlib/msgbox.h"

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double EulerE = 2.718281828459045;
constexpr long double PiExtended = 3.14159265358979323846264338327950288L;

constexpr char EndByte = '\x01';

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

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a') return c - 'a' + 10;
    return c - 'A' + 10;
}
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0xC0; }

enum class Fn : std::uint8_t {
    Cos, Sin, Tg, Ctg, ArcCos, ArcSin, ArcTg, ArcCtg, Atan,
    Ch, Sh, Th, Cth, ArcCh, ArcSh, ArcTh, ArcCth,
    Log, Lg, Ln, Exp, Sqr, Sqrt, Abs, Sign,
    Round, Frac, Trunc, Min, Max,
};

enum class Arity : std::uint8_t { One, Two, OneOrTwo, OneOrMore };

struct FnEntry {
    std::string_view Name;
    Fn Id;
    Arity Args;
};

constexpr FnEntry Functions[] = {
    {"cos", Fn::Cos, Arity::One},         {"sin", Fn::Sin, Arity::One},
    {"tg", Fn::Tg, Arity::One},           {"ctg", Fn::Ctg, Arity::One},
    {"arccos", Fn::ArcCos, Arity::One},   {"arcsin", Fn::ArcSin, Arity::One},
    {"arctg", Fn::ArcTg, Arity::One},     {"arcctg", Fn::ArcCtg, Arity::One},
    {"atan", Fn::Atan, Arity::Two},       {"ch", Fn::Ch, Arity::One},
    {"sh", Fn::Sh, Arity::One},           {"th", Fn::Th, Arity::One},
    {"cth", Fn::Cth, Arity::One},         {"arcch", Fn::ArcCh, Arity::One},
    {"arcsh", Fn::ArcSh, Arity::One},     {"arcth", Fn::ArcTh, Arity::One},
    {"arccth", Fn::ArcCth, Arity::One},   {"log", Fn::Log, Arity::Two},
    {"lg", Fn::Lg, Arity::One},           {"ln", Fn::Ln, Arity::One},
    {"exp", Fn::Exp, Arity::One},         {"sqr", Fn::Sqr, Arity::One},
    {"sqrt", Fn::Sqrt, Arity::One},       {"abs", Fn::Abs, Arity::One},
    {"sign", Fn::Sign, Arity::One},       {"round", Fn::Round, Arity::OneOrTwo},
    {"frac", Fn::Frac, Arity::OneOrTwo},  {"trunc", Fn::Trunc, Arity::OneOrTwo},
    {"min", Fn::Min, Arity::OneOrMore},   {"max", Fn::Max, Arity::OneOrMore},
};

const FnEntry* FindFunction(std::string_view name) {
    for (const FnEntry& f : Functions)
        if (f.Name == name) return &f;
    return nullptr;
}

// One evaluation. Its state is local, so a setter called from inside an
// argument read cannot pull the text or the position from under it.
class Evaluation {
public:
    Evaluation(TQXMathParse& element, const TText& text) : el_(element), text_(text.data()), size_(text.size()) {}

    double Run() {
        Next();
        const double result = Comparison();
        if (err_ < 0 && kind_ != tkEnd) err_ = mpSyntaxError;  // text left over
        return result;
    }

    std::int32_t pos_ = 1;  // 1-based index of the next byte to examine
    std::int16_t err_ = mpNoError;
    std::uint8_t kind_ = tkInvalid;
    std::string tok_;

private:
    // Past the stored text the expression has ended, with or without its end byte.
    unsigned char At(std::int32_t p) const {
        if (p < 1 || static_cast<std::size_t>(p) > size_) return EndByte;
        return static_cast<unsigned char>(text_[p - 1]);
    }

    double Fail(std::int16_t code) {
        if (err_ < 0) err_ = code;
        return 0.0;
    }
    double Syntax() { return Fail(mpSyntaxError); }
    double Calc() { return Fail(mpCalcError); }
    // Overflow and NaN are calculation errors: no result is ever inf or NaN.
    double Finite(double x) { return std::isfinite(x) ? x : Calc(); }

    bool Is(std::uint8_t kind, std::string_view text) const { return kind_ == kind && tok_ == text; }

    // --- Tokenizer ---

    void Next() {
        while (IsBlank(At(pos_))) ++pos_;
        tok_.clear();
        const unsigned char c = At(pos_);
        if (c == EndByte) {
            kind_ = tkEnd;
            return;
        }
        if (c == '$' || c == '.' || IsDigit(c)) {
            Number();
            return;
        }
        switch (c) {
            case '%': case '(': case ')': case ',': case '[': case ']': case '=':
                tok_ = static_cast<char>(c);
                kind_ = tkPunct;
                ++pos_;
                return;
            case '<': case '>':
                tok_ = static_cast<char>(c);
                kind_ = tkPunct;
                ++pos_;
                if (At(pos_) == '=') {
                    tok_ += '=';
                    ++pos_;
                }
                return;
            case '*': case '+': case '-': case '/': case '^': {
                ++pos_;
                std::int32_t p = pos_;
                while (IsBlank(At(p))) ++p;
                if (At(p) == '+' || At(p) == '-') {
                    kind_ = tkInvalid;  // an operator directly followed by a sign
                    return;
                }
                tok_ = static_cast<char>(c);
                kind_ = tkOperator;
                return;
            }
            default: break;
        }
        if (IsLetter(c)) {
            unsigned char w = c;
            do {
                tok_ += (w >= 'A' && w <= 'Z') ? static_cast<char>(w + ('a' - 'A')) : static_cast<char>(w);
                w = At(++pos_);
            } while (IsLetter(w) || IsDigit(w));
            kind_ = tkWord;
            return;
        }
        kind_ = tkInvalid;  // nothing consumed
    }

    void Number() {
        const unsigned char c = At(pos_);
        if (c == '$' || (c == '0' && At(pos_ + 1) == 'x')) {
            pos_ += c == '$' ? 1 : 2;
            std::uint32_t word = 0;
            for (unsigned char d = At(pos_); IsHexDigit(d); d = At(++pos_)) {
                tok_ += static_cast<char>(d);
                word = (word << 4) | static_cast<std::uint32_t>(HexValue(d));
            }
            hex_ = static_cast<std::int32_t>(word);
            kind_ = tok_.empty() ? tkInvalid : tkHex;
            return;
        }
        for (unsigned char d = At(pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
        kind_ = tkInteger;
        if (At(pos_) == '.') {
            tok_ += '.';
            for (unsigned char d = At(++pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
            if (tok_.size() == 1) {
                kind_ = tkInvalid;
                return;
            }
            kind_ = tkReal;
        }
        std::int32_t p = pos_;
        while (IsBlank(At(p))) ++p;
        if (At(p) != 'E' && At(p) != 'e') return;
        tok_ += static_cast<char>(At(p));
        pos_ = p + 1;
        while (IsBlank(At(pos_))) ++pos_;
        if (At(pos_) == '+' || At(pos_) == '-') {
            tok_ += static_cast<char>(At(pos_));
            ++pos_;
            while (IsBlank(At(pos_))) ++pos_;
        }
        if (!IsDigit(At(pos_))) {
            kind_ = tkInvalid;
            return;
        }
        for (unsigned char d = At(pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
        kind_ = tkReal;
    }

    // --- Grammar, loosest level first; every level returns at the first error ---

    double Comparison() {
        // Every nesting passes through here; bounding it bounds the stack.
        if (depth_ >= MathParseMaxDepth) return Syntax();
        ++depth_;
        double left = Additive();
        while (err_ < 0 && kind_ == tkPunct && (tok_[0] == '<' || tok_[0] == '>' || tok_[0] == '=')) {
            const char op = tok_[0];
            const bool orEqual = tok_.size() == 2;
            Next();
            const double right = Additive();
            if (err_ >= 0) break;
            bool holds;
            if (op == '<') holds = orEqual ? left <= right : left < right;
            else if (op == '>') holds = orEqual ? left >= right : left > right;
            else holds = left == right;
            left = holds ? 1.0 : 0.0;
        }
        --depth_;
        return left;
    }

    double Additive() {
        double left = Multiplicative();
        while (err_ < 0 && kind_ == tkOperator && (tok_ == "+" || tok_ == "-")) {
            const bool plus = tok_ == "+";
            Next();
            const double right = Multiplicative();
            if (err_ >= 0) break;
            left = Finite(plus ? left + right : left - right);
        }
        return left;
    }

    double Multiplicative() {
        double left = Power();
        while (err_ < 0) {
            char op;
            if (kind_ == tkOperator && (tok_ == "*" || tok_ == "/")) op = tok_[0];
            else if (Is(tkWord, "div")) op = 'd';
            else if (Is(tkWord, "mod")) op = 'm';
            else break;
            Next();
            const double right = Power();
            if (err_ >= 0) break;
            if (op == '*') {
                left = Finite(left * right);
            } else if (op == '/') {
                if (right == 0.0) return Calc();
                left = Finite(left / right);
            } else {
                left = IntegerDivision(left, right, op == 'd');
            }
        }
        return left;
    }

    double IntegerDivision(double a, double b, bool quotient) {
        std::int64_t x = 0, y = 0;
        // Operands beyond the 64-bit range have no integer to round to.
        if (!RoundToInt64(a, x) || !RoundToInt64(b, y) || y == 0) return Calc();
        // By -1 the quotient is -x and the remainder 0. Computed in 64 bits,
        // -2^63 div -1 overflows (undefined, a trap on x86); its true value
        // 2^63 is exact as a double, which is what the result becomes anyway.
        if (y == -1) return quotient ? -static_cast<double>(x) : 0.0;
        return static_cast<double>(quotient ? x / y : x % y);
    }

    double Power() {
        double left = Signed();
        while (err_ < 0 && Is(tkOperator, "^")) {
            Next();
            const double right = Signed();
            if (err_ >= 0) break;
            left = Raise(left, right);
        }
        return left;
    }

    double Raise(double a, double b) {
        if (std::nearbyint(b) != b && a <= 0.0) return Calc();
        if (a == 0.0 && b <= 0.0) return Calc();  // 0^0 and 0^-n divide by zero
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

    double Signed() {
        bool negate = false;
        if (kind_ == tkOperator && (tok_ == "+" || tok_ == "-")) {
            negate = tok_ == "-";
            Next();
        }
        const double v = Logical();
        return negate ? -v : v;
    }

    double Logical() {
        double left = Primary();
        while (err_ < 0 && kind_ == tkWord && (tok_ == "and" || tok_ == "or" || tok_ == "xor")) {
            const char op = tok_[0];
            Next();
            const double right = Primary();
            if (err_ >= 0) break;
            const bool l = left != 0.0, r = right != 0.0;
            const bool v = op == 'a' ? (l && r) : op == 'o' ? (l || r) : (l != r);
            left = v ? 1.0 : 0.0;
        }
        return left;
    }

    double Primary() {
        switch (kind_) {
            case tkPunct:
                if (tok_ == "%") return Argument();
                if (tok_ == "(") {
                    Next();
                    const double v = Comparison();
                    if (err_ >= 0) return v;
                    if (!Is(tkPunct, ")")) return Syntax();
                    Next();
                    return v;
                }
                return Syntax();
            case tkWord: {
                if (tok_ == "pi" || tok_ == "e") {
                    const double v = tok_ == "pi" ? Pi : EulerE;
                    Next();
                    return v;
                }
                const FnEntry* f = FindFunction(tok_);
                if (f == nullptr) return Syntax();
                return Call(*f);
            }
            case tkReal:
            case tkInteger: {
                const double v = TextToReal(tok_);
                if (!std::isfinite(v)) return Calc();
                Next();
                return v;
            }
            case tkHex: {
                const double v = hex_;
                Next();
                return v;
            }
            default:
                return Syntax();
        }
    }

    // --- %k, %k[i], %k[i, j] ---

    std::size_t PointCount() const {
        std::size_t n = static_cast<std::size_t>(std::max<std::int32_t>(el_.ArgCount, 0));
        n = std::min({n, el_.Arg.size(), el_.ArgValues.size(), el_.ArgRead.size()});
        return n;
    }

    double Argument() {
        Next();
        if (kind_ != tkInteger) return Syntax();
        const std::int32_t k = TextToInt(tok_);  // %01 is %1; a wrapped huge k comes out negative
        if (k < 0 || static_cast<std::size_t>(k) > PointCount()) return Syntax();
        Next();
        if (k == 0) return Finite(el_.Value);
        const std::size_t i = static_cast<std::size_t>(k - 1);
        if (Is(tkPunct, "[")) return Indexed(el_.Arg[i]);
        if (el_.ArgRead[i]) return el_.ArgValues[i];

        const TQX_Event point = el_.Arg[i];  // a copy: the read may resize the list
        const TData v = FetchValue(el_.EventValue, point, nullptr);
        if (v.Kind == dtNull && v.TextValue == MathParseErrorMarker)
            return Fail(v.IntValue == 0 ? mpSyntaxError : mpCalcError);
        const double x = AsReal(v);
        if (!std::isfinite(x)) return Calc();
        if (i < PointCount()) {
            el_.ArgValues[i] = x;
            el_.ArgRead[i] = true;
        }
        return x;
    }

    double Indexed(const TQX_Event point) {  // a copy, as above
        Next();
        const double first = Comparison();
        if (err_ >= 0) return first;
        if (Is(tkPunct, ",")) {
            auto* matrix = static_cast<const TMatrixMethods*>(PointMatrix(point));
            if (matrix == nullptr) return Calc();
            Next();
            const double second = Comparison();
            if (err_ >= 0) return second;
            if (!Is(tkPunct, "]")) return Syntax();
            if (matrix->ReadItem == nullptr) return Calc();
            TData item;
            matrix->ReadItem(matrix->ReadItemObject, RoundToInt32(first), RoundToInt32(second), item);
            if (item.Kind == dtNull) return Calc();
            const double v = AsReal(item);
            if (!std::isfinite(v)) return Calc();
            Next();
            return v;
        }
        auto* array = static_cast<const TArrayMethods*>(PointArray(point));
        if (array == nullptr) return Calc();
        if (!Is(tkPunct, "]")) return Syntax();
        if (array->ReadItem == nullptr) return Calc();
        TData index;
        SetReal(index, first);
        TData item;
        if (!array->ReadItem(array->ReadItemObject, index, item)) return Calc();
        const double v = AsReal(item);
        if (!std::isfinite(v)) return Calc();
        Next();
        return v;
    }

    // --- Functions ---

    double Call(const FnEntry& f) {
        Next();
        if (!Is(tkPunct, "(")) return Syntax();
        Next();
        double x = Comparison();
        if (err_ >= 0) return x;
        double y = 1.0;  // the optional step
        switch (f.Args) {
            case Arity::One: break;
            case Arity::Two:
                if (!Is(tkPunct, ",")) return Syntax();
                Next();
                y = Comparison();
                if (err_ >= 0) return y;
                break;
            case Arity::OneOrTwo:
                if (Is(tkPunct, ",")) {
                    Next();
                    y = Comparison();
                    if (err_ >= 0) return y;
                }
                break;
            case Arity::OneOrMore:
                while (Is(tkPunct, ",")) {
                    Next();
                    const double more = Comparison();
                    if (err_ >= 0) return more;
                    x = f.Id == Fn::Min ? std::min(x, more) : std::max(x, more);
                }
                break;
        }
        if (!Is(tkPunct, ")")) return Syntax();
        const double v = Compute(f.Id, x, y);
        if (err_ >= 0) return v;
        Next();
        return v;
    }

    double Compute(Fn id, double x, double y) {
        const double F = el_.AngleFactor;
        switch (id) {
            case Fn::Cos: return Finite(std::cos(x * F));
            case Fn::Sin: return Finite(std::sin(x * F));
            case Fn::Tg:
                if (std::cos(x * F) == 0.0) return Calc();
                return Finite(std::tan(x * F));
            case Fn::Ctg:
                if (std::sin(x * F) == 0.0) return Calc();
                return Finite(1.0 / std::tan(x * F));
            case Fn::ArcCos:
                if (x > 1.0 || x < -1.0) return Calc();
                return Finite(std::atan2(std::sqrt(1.0 - x * x), x) / F);
            case Fn::ArcSin:
                if (x > 1.0 || x < -1.0) return Calc();
                return Finite(std::atan2(x, std::sqrt(1.0 - x * x)) / F);
            case Fn::ArcTg: return Finite(std::atan2(x, 1.0) / F);
            case Fn::ArcCtg: return Finite(std::atan2(1.0, x) / F);
            case Fn::Atan: return Finite(std::atan2(x, y) / F);  // x, y: the first and second argument
            // The hyperbolic ones through the library: the same functions,
            // without the formulas' needless overflow of e^x at large |x|.
            case Fn::Ch: return Finite(std::cosh(x));
            case Fn::Sh: return Finite(std::sinh(x));
            case Fn::Th: return Finite(std::tanh(x));
            case Fn::Cth:
                if (x == 0.0) return Calc();
                return Finite(1.0 / std::tanh(x));
            case Fn::ArcCh:
                if (x < 1.0) return Calc();
                return Finite(std::acosh(x));
            case Fn::ArcSh: return Finite(std::asinh(x));
            case Fn::ArcTh:
                if (x >= 1.0 || x <= -1.0) return Calc();
                return Finite(std::atanh(x));
            case Fn::ArcCth:
                if (x >= -1.0 && x <= 1.0) return Calc();
                return Finite(std::atanh(1.0 / x));
            case Fn::Log: {
                if (x <= 0.0 || y <= 0.0) return Calc();
                const long double lb = std::log(static_cast<long double>(x));
                if (lb == 0.0L) return Calc();  // base 1
                const long double r = std::log(static_cast<long double>(y)) / lb;
                if (!(std::fabs(r) <= static_cast<long double>(DBL_MAX))) return Calc();
                return static_cast<double>(r);
            }
            case Fn::Lg:
                if (x <= 0.0) return Calc();
                return Finite(std::log10(x));
            case Fn::Ln:
                if (x <= 0.0) return Calc();
                return Finite(std::log(x));
            case Fn::Exp: return Finite(std::exp(x));
            case Fn::Sqr: return Finite(x * x);
            case Fn::Sqrt:
                if (x < 0.0) return Calc();
                return std::sqrt(x);
            case Fn::Abs: return x < 0.0 ? -x : x;
            case Fn::Sign: return x < 0.0 ? -1.0 : x > 0.0 ? 1.0 : x;
            case Fn::Round: {
                if (y == 0.0) return Calc();
                std::int64_t n = 0;
                if (!RoundToInt64(x / y, n)) return Calc();
                return Finite(static_cast<double>(n) * y);
            }
            case Fn::Frac: {
                if (y == 0.0) return Calc();
                const double q = x / y;
                if (!std::isfinite(q)) return Calc();
                double whole;
                return Finite(std::modf(q, &whole) * y);
            }
            case Fn::Trunc: {
                if (y == 0.0) return Calc();
                const double t = std::trunc(x / y);
                // Within the 64-bit range, as the integer it stands for.
                if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return Calc();
                return Finite(t * y);
            }
            case Fn::Min:
            case Fn::Max: return x;
        }
        return Calc();
    }

    TQXMathParse& el_;
    const char* text_;
    std::size_t size_;
    std::int32_t hex_ = 0;
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
    stored += EndByte;
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
    Evaluation run(*this, text);
    const double result = run.Run();
    Value = result;
    ErrorCode = run.err_;
    TokenKind = run.kind_;
    TokenText = std::move(run.tok_);
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
    ReadPos = run.pos_ - 1;
    if (onError.Linked()) {
        ForwardInteger(value, onError, ErrorCode);
        return;
    }
    // The state is final before the box: its modal loop may run other chains.
    std::string text1251 = ErrorCode == mpSyntaxError ? SyntaxErrorText : CalcErrorText;
    text1251 += IntToText(ReadPos).view();
    ShowMessage(text1251, ErrorCaption, mbOk, MessageOwner());
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
