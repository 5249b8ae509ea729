// Cost of one doCalc: the countdown threshold "%1 - 2" the switching scheme
// evaluates, and a long expression with functions over five arguments. The
// text is tokenized afresh on every evaluation, so the long one shows what
// that costs. Each iteration is one evaluation.
//
// ClobberMemory rather than DoNotOptimize on the double result: the latter
// corrupted the value it was given with the installed library and g++ 12.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "elements/mathparse.h"
#include "tests/support/probes.h"

namespace {

// range(0): 0 = the source gives an Integer, 1 = a Real.
// One doCalc per iteration, as its event arrives.
void Evaluate(benchmark::State& state, TQXMathParse& e) {
    const TQX_Event calc = QX_LINK(&e, doCalc, 0);
    for (auto _ : state) {
        TData in;
        FireEvent(calc, in);
        benchmark::ClobberMemory();
    }
}

void BM_CountdownThreshold(benchmark::State& state) {
    StartFramework();
    TSource pulse;
    if (state.range(0) == 0)
        SetInteger(pulse.Value, 30);
    else
        SetReal(pulse.Value, 30.0);
    TLastValue sink;
    TQXMathParse e;
    e.SetArgCount(1);
    e.SetExpression("%1 - 2");
    e.ResultReal = true;
    e.SetDefault(0.0);
    e.SetDegrees(false);
    e.Arg[0] = QX_LINK(&pulse, readValue, 0);
    e.onResult = QX_LINK(&sink, doEvent, 0);
    Evaluate(state, e);
    if (AsReal(sink.Last) != 28.0) state.SkipWithError("wrong result");
    state.SetItemsProcessed(state.iterations());
    StopFramework();
}
BENCHMARK(BM_CountdownThreshold)->ArgName("real")->Arg(0)->Arg(1);

void BM_LongExpression(benchmark::State& state) {
    StartFramework();
    TSource args[5];
    const double values[5] = {0.5, 2.0, 3.0, 1.25, 7.0};
    for (int k = 0; k < 5; ++k) SetReal(args[k].Value, values[k]);
    TLastValue sink;
    TQXMathParse e;
    e.SetArgCount(5);
    e.SetExpression(
        "sin(%1) * cos(%2) + sqrt(abs(%3 - %4)) * ln(%5 + 1) - "
        "((%1 + %2) * (%3 - %4) / (%5 + 0.5)) ^ 2 + "
        "max(%1, %2, %3) - min(%4, %5) + exp(-%1) * arctg(%2 / %3) + "
        "log(2, %5 + 1) + round(%3 * 10.5, 0.25) + ch(%1) - th(%2)");
    e.ResultReal = true;
    e.SetDefault(0.0);
    e.SetDegrees(false);
    for (int k = 0; k < 5; ++k) e.Arg[k] = QX_LINK(&args[k], readValue, 0);
    e.onResult = QX_LINK(&sink, doEvent, 0);
    Evaluate(state, e);
    if (e.ErrorCode != mpNoError) state.SkipWithError("the expression failed");
    state.SetItemsProcessed(state.iterations());
    StopFramework();
}
BENCHMARK(BM_LongExpression);

}  // namespace
