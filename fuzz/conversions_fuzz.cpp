// Text conversions on arbitrary bytes: no crash, no sanitizer report, and
// the round trips that hold do hold.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "framework/data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::int32_t n = TextToInt(text);
    if (TextToInt(IntToText(n).view()) != n) std::abort();

    const double parsed = TextToReal(text);
    (void)RealToText(parsed);

    TData value;
    SetText(value, text);
    (void)AsInteger(value);
    (void)AsReal(value);

    if (size >= sizeof(double)) {
        double x;
        std::memcpy(&x, data, sizeof x);
        SetReal(value, x);
        (void)AsInteger(value);
        const TText shown = RealToText(x);
        for (char c : shown.view())
            if (!((c >= '0' && c <= '9') || c == '.' || c == '-')) std::abort();
        if (std::fabs(x) > 1e-290 && std::fabs(x) < 1e300) {
            // Fifteen significant digits survive the trip back (subnormals
            // carry fewer digits, so they are left out).
            const double back = TextToReal(shown.view());
            if (std::fabs(back - x) > std::fabs(x) * 1e-14) std::abort();
        }
    }
    return 0;
}
