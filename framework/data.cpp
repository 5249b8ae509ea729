#include "framework/data.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

const char* const TypeNames[TypeNameCount] = {
    "NULL",  "Integer", "String", "Data",    "Combo", "StrList", "Icon",   "Real",
    "Color", "Script",  "Stream", "Bitmap",  "Wave",  "Array",   "ComboEx", "Font",
    "Matrix", "Jpeg",   "Menu",   "Code",    "Object", "Type",   "Break",
};

void SetNull(TData& value) {
    // The old text stays until the record is next overwritten or discarded.
    value.Kind = dtNull;
    value.NextEvent = nullptr;
    value.NextValue = nullptr;
}

void SetInteger(TData& value, std::int32_t n) {
    value.Kind = dtInteger;
    value.IntValue = n;
    value.NextEvent = nullptr;
    value.NextValue = nullptr;
}

void SetText(TData& value, const TText& s) {
    value.Kind = dtString;
    value.TextValue = s;
    value.NextEvent = nullptr;
    value.NextValue = nullptr;
}

void SetReal(TData& value, double r) {
    value.Kind = dtReal;
    value.RealValue = r;
    value.NextEvent = nullptr;
    value.NextValue = nullptr;
}

bool AsFlag(const TData& value) { return !(value.Kind == dtInteger && value.IntValue == 0); }

bool RoundToInt64(double x, std::int64_t& out) {
    if (!std::isfinite(x)) return false;
    const double r = std::nearbyint(x);  // default rounding: nearest, ties to even
    // 2^63 is exact as a double; everything in [-2^63, 2^63) converts safely.
    if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) return false;
    out = static_cast<std::int64_t>(r);
    return true;
}

std::int32_t RoundToInt32(double x) {
    std::int64_t n = 0;
    if (!RoundToInt64(x, n)) return 0;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(n)));
}

std::int32_t AsInteger(const TData& value) {
    switch (value.Kind) {
        case dtInteger: return value.IntValue;
        case dtString: return TextToInt(value.TextValue.view());
        case dtReal: return RoundToInt32(value.RealValue);
        default: return 0;
    }
}

double AsReal(const TData& value) {
    switch (value.Kind) {
        case dtInteger: return static_cast<double>(value.IntValue);
        case dtString: return TextToReal(value.TextValue.view());
        case dtReal: return value.RealValue;
        default: return 0.0;
    }
}

TText AsText(const TData& value) {
    switch (value.Kind) {
        case dtString: return value.TextValue;
        case dtInteger: return IntToText(value.IntValue);
        case dtReal: return RealToText(value.RealValue);
        default: return TText();
    }
}

TText IntToText(std::int32_t n) {
    char buf[12];
    char* p = buf + sizeof buf;
    // Work on the magnitude as unsigned so the most negative value needs no special case.
    std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    do {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    if (n < 0) *--p = '-';
    return TText(std::string_view(p, static_cast<std::size_t>(buf + sizeof buf - p)));
}

std::int32_t TextToInt(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        i = 1;
    } else if (!s.empty() && s[0] == '+') {
        i = 1;
    }
    std::uint32_t result = 0;  // unsigned: overflow wraps as in two's complement
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) result = result * 10u + static_cast<std::uint32_t>(s[i] - '0');
    if (negative) result = 0u - result;
    return static_cast<std::int32_t>(result);
}

namespace {

// Store an extended intermediate as a double. Out-of-range values become
// infinities explicitly rather than through an unchecked conversion.
double StoreDouble(long double v) {
    if (v > static_cast<long double>(DBL_MAX)) return HUGE_VAL;
    if (v < -static_cast<long double>(DBL_MAX)) return -HUGE_VAL;
    return static_cast<double>(v);
}

// The exponent of a number text, read as TextToInt reads it but held at a
// bound instead of wrapping: "1e4294967296" must not come out as 1. Past
// the bound every non-zero result is already infinite or zero.
long long ExponentOf(std::string_view s) {
    constexpr long long Bound = 100000;
    std::size_t i = 0;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        i = 1;
    }
    long long n = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) n = std::min(Bound, n * 10 + (s[i] - '0'));
    return negative ? -n : n;
}

}  // namespace

double TextToReal(std::string_view s) {
    double r = 0.0;
    if (s.empty()) return r;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '-') {
        negative = true;
        i = 1;
    }
    bool fraction = false;
    long double scale = 1.0L;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            const int d = c - '0';
            if (!fraction) {
                r = StoreDouble(static_cast<long double>(r) * 10.0L + d);
            } else {
                scale = scale * 0.1L;
                r = StoreDouble(static_cast<long double>(r) + d * scale);
            }
        } else if (c == '.') {
            if (fraction) break;
            fraction = true;
        } else if (c == 'E' || c == 'e') {
            const long long n = ExponentOf(s.substr(i + 1));
            if (r != 0.0 && std::isfinite(r)) {
                if (n >= 0)
                    r = StoreDouble(static_cast<long double>(r) * powl(10.0L, static_cast<long double>(n)));
                else
                    r = StoreDouble(static_cast<long double>(r) / powl(10.0L, static_cast<long double>(-n)));
            }
            break;
        }
        // Every other character is skipped.
    }
    return negative ? -r : r;
}

TText RealToText(double x) {
    if (x == 0.0 || !std::isfinite(x)) return TText("0");
    if (x < 0) {
        std::string text = "-";
        text += RealToText(-x).view();
        return TText(text);
    }
    long double v = x;
    int e = 15;
    bool multiplied = false;
    while (v < 5e12L) {
        v *= 10.0L;
        --e;
        multiplied = true;
    }
    if (!multiplied) {
        while (v >= 1e13L) {
            v /= 10.0L;
            ++e;
        }
    }
    while (nearbyintl(v) < 1e14L) {
        v *= 10.0L;
        --e;
    }
    auto m = static_cast<long long>(nearbyintl(v));
    // Rounding 999999999999999.5 and above gives sixteen digits; keep fifteen.
    if (m >= 1000000000000000LL) {
        m /= 10;
        ++e;
    }
    const std::string digits = std::to_string(m);

    std::string text;
    if (e <= 0) {
        text = "0.";
        text.append(static_cast<std::size_t>(-e), '0');
        text += digits;
    } else if (e < 15) {
        text = digits.substr(0, static_cast<std::size_t>(e));
        text += '.';
        text += digits.substr(static_cast<std::size_t>(e));
    } else {
        text = digits;
        text.append(static_cast<std::size_t>(e - 15), '0');
        return TText(text);
    }
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return TText(text);
}
