// The expression evaluator on arbitrary text and arguments: every doCalc
// ends in exactly one of a finite result or a reported error (code 0 or 1,
// a position inside the text), and a second evaluator reading the first
// one's Result agrees with it.
//
// Input: one flag byte, then 9 bytes per argument (a kind byte and 8 value
// bytes), then the expression.
//   flags bits 0-1: ArgCount 0..3; bit 2: ResultReal; bit 3: Degrees;
//   bit 4: onError linked (else the message box); bit 5: %0 from a previous run.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "elements/mathparse.h"
#include "tests/support/probes.h"
#include "winlib/msgbox.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

struct CountingBox final : TMessageBoxService {
    int Count = 0;
    std::string Caption;
    int Show(std::string_view, std::string_view caption, std::uint32_t, void*) override {
        ++Count;
        Caption = caption;
        return idOk;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    std::size_t at = 1;
    const int argCount = flags & 3;

    StartFramework();
    CountingBox box;
    TMessageBoxService* const previousBox = SetMessageBox(&box);

    TSource sources[3];
    bool linked[3] = {false, false, false};
    for (int k = 0; k < argCount && at + 9 <= size; ++k, at += 9) {
        double real;
        std::memcpy(&real, data + at + 1, sizeof real);
        std::int32_t integer;
        std::memcpy(&integer, data + at + 1, sizeof integer);
        switch (data[at] & 3) {
            case 0: continue;  // unlinked: takes the incoming value
            case 1: SetInteger(sources[k].Value, integer); break;
            case 2: SetReal(sources[k].Value, real); break;
            case 3: SetText(sources[k].Value, std::string_view(reinterpret_cast<const char*>(data + at + 1), 8)); break;
        }
        linked[k] = true;
    }
    const std::string_view expr(reinterpret_cast<const char*>(data + at), size - at);

    TLastValue results, errors;
    TQXMathParse e;
    e.SetArgCount(argCount);
    e.SetExpression(expr);
    e.ResultReal = (flags & 4) != 0;
    e.SetDefault(1.5);
    e.SetDegrees((flags & 8) != 0);
    for (int k = 0; k < argCount; ++k)
        if (linked[k]) e.Arg[k] = QX_LINK(&sources[k], readValue, 0);
    e.onResult = QX_LINK(&results, doEvent, 0);
    if (flags & 16) e.onError = QX_LINK(&errors, doEvent, 0);

    const TQX_Event calc = QX_LINK(&e, doCalc, 0);
    if (flags & 32) FireInteger(calc, 3);  // a first run, so %0 is its outcome
    results = TLastValue();
    errors = TLastValue();
    box.Count = 0;

    TData second;
    SetReal(second, -2.25);
    TData first;
    SetInteger(first, 7);
    first.NextValue = &second;
    FireEvent(calc, first);

    // The length of the text the evaluator sees: up to its first end byte.
    const std::size_t end = std::min(expr.find('\x01'), expr.size());
    if (e.ErrorCode == mpNoError) {
        Check(std::isfinite(e.Value));
        Check(e.ReadPos == -1);
        Check(results.Count == 1 && errors.Count == 0 && box.Count == 0);
        if (e.ResultReal)
            Check(results.Last.Kind == dtReal && results.Last.RealValue == e.Value);
        else
            Check(results.Last.Kind == dtInteger && results.Last.IntValue == RoundToInt32(e.Value));
    } else {
        Check(e.ErrorCode == mpSyntaxError || e.ErrorCode == mpCalcError);
        Check(e.ReadPos >= 0 && static_cast<std::size_t>(e.ReadPos) <= end);
        Check(results.Count == 0);
        if (flags & 16)
            Check(errors.Count == 1 && errors.Last.Kind == dtInteger && errors.Last.IntValue == e.ErrorCode);
        else
            Check(errors.Count == 0 && box.Count == 1 && box.Caption == "String-Debug");
    }

    // A second evaluator over the first one's Result passes an error on and
    // otherwise computes with the value as read.
    TData marker;
    e.readResult(marker, 0);
    TLastValue results2, errors2;
    TQXMathParse next;
    next.SetArgCount(1);
    next.SetExpression("%1 * 2");
    next.ResultReal = true;
    next.SetDefault(0.0);
    next.Arg[0] = QX_LINK(&e, readResult, 0);
    next.onResult = QX_LINK(&results2, doEvent, 0);
    next.onError = QX_LINK(&errors2, doEvent, 0);
    FireNull(QX_LINK(&next, doCalc, 0));
    if (e.ErrorCode != mpNoError) {
        Check(marker.Kind == dtNull && marker.TextValue == MathParseErrorMarker && marker.IntValue == e.ErrorCode);
        Check(next.ErrorCode == e.ErrorCode && errors2.Count == 1);
    } else {
        const double read = AsReal(marker);
        if (std::isfinite(read * 2))
            Check(next.ErrorCode == mpNoError && results2.Count == 1 && next.Value == read * 2);
        else
            Check(next.ErrorCode == mpCalcError);
    }

    SetMessageBox(previousBox);
    StopFramework();
    return 0;
}
