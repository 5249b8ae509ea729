// Cost of one hop along a chain of forwarding elements, beside a chain of
// direct virtual calls of the same length; prints the ratio at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/events.h"

namespace {

constexpr int kChainLength = 1000;

struct Hop {
    TQX_Event onNext;
    void doEvent(TData& value, std::uint16_t) { ForwardInteger(value, onNext, value.IntValue + 1); }
};

struct Node {
    virtual ~Node() = default;
    virtual void Handle(int& value) {
        ++value;
        if (Next) Next->Handle(value);
    }
    Node* Next = nullptr;
};

void BM_ForwardingChain(benchmark::State& state) {
    StartFramework();
    std::vector<Hop> hops(kChainLength);
    for (int i = 0; i + 1 < kChainLength; ++i) hops[i].onNext = QX_LINK(&hops[i + 1], doEvent, 0);
    const TQX_Event first = QX_LINK(&hops[0], doEvent, 0);
    for (auto _ : state) {
        TData value;
        SetInteger(value, 0);
        FireEvent(first, value);
        benchmark::DoNotOptimize(value.IntValue);
    }
    state.SetItemsProcessed(state.iterations() * kChainLength);
    StopFramework();
}
BENCHMARK(BM_ForwardingChain);

void BM_VirtualCallChain(benchmark::State& state) {
    std::vector<std::unique_ptr<Node>> nodes;
    for (int i = 0; i < kChainLength; ++i) nodes.push_back(std::make_unique<Node>());
    for (int i = 0; i + 1 < kChainLength; ++i) nodes[i]->Next = nodes[i + 1].get();
    Node* first = nodes[0].get();
    benchmark::DoNotOptimize(first);
    for (auto _ : state) {
        int value = 0;
        first->Handle(value);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * kChainLength);
}
BENCHMARK(BM_VirtualCallChain);

// Console output as usual, plus the per-hop figures and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration)
                perHop_[run.run_name.function_name] = run.GetAdjustedRealTime() / kChainLength;
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto forward = perHop_.find("BM_ForwardingChain");
        const auto direct = perHop_.find("BM_VirtualCallChain");
        if (forward == perHop_.end() || direct == perHop_.end() || direct->second <= 0) return;
        std::printf("per hop: forwarding %.3f ns, virtual call %.3f ns, ratio %.2f\n", forward->second,
                    direct->second, forward->second / direct->second);
    }

private:
    std::map<std::string, double> perHop_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
