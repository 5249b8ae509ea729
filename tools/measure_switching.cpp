// Measures the switching sub-scheme in real time: the platform's own timers
// (Win32 timers through the message loop on Windows) and its own serial
// device on a pseudo-terminal pair, whose far end a second thread reads and
// time-stamps. Prints the delays beside the designed ones.
//
//   measure_switching [RUNS]      (default 3; under Wine: scripts/measure-switching)

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/switching.h"
#include "tests/support/serial_pty.h"
#include "winlib/messageloop.h"

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point t0, TClock::time_point t) {
    return std::chrono::duration<double, std::milli>(t - t0).count();
}

// Bytes arriving at the far end of the pair, each with its arrival time.
class TArrivals {
public:
    explicit TArrivals(TSerialPty& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~TArrivals() {
        stop_ = true;
        thread_.join();
    }
    // Arrival time of the byte that completes `text` after byte `from`;
    // false while it has not come.
    bool Find(const std::string& text, std::size_t from, TClock::time_point& at, std::size_t& end) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t pos = bytes_.find(text, from);
        if (pos == std::string::npos) return false;
        end = pos + text.size();
        at = times_[end - 1];
        return true;
    }

private:
    void Run() {
        while (!stop_) {
            const std::string b = pty_.Read(1, 50);
            if (b.empty()) continue;
            const auto now = TClock::now();
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_ += b;
            times_.push_back(now);
        }
    }
    TSerialPty& pty_;
    std::mutex mutex_;
    std::string bytes_;
    std::vector<TClock::time_point> times_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The host side: the two texts, and the outcomes with their times; an
// expiry is answered with a toggle, as the main window does.
struct THost {
    TQXMemory PortText;
    TQXMemory PulseText;
    TQXMultiElement Switcher;
    TClock::time_point SwitchedOn{};
    TClock::time_point SwitchedOff{};
    bool On = false;
    bool Off = false;
    bool PortError = false;

    THost() {
        SetText(PortText.Value, TText(std::to_string(TSerialPty::Port)));
        SetText(PulseText.Value, TText("3"));
        Switcher.onEvent.resize(swOutputCount);
        Switcher.Data.resize(swDataCount);
        Switcher.onEvent[swSwitchedOn] = QX_LINK(this, doOutcome, swSwitchedOn);
        Switcher.onEvent[swSwitchedOff] = QX_LINK(this, doOutcome, swSwitchedOff);
        Switcher.onEvent[swPortError] = QX_LINK(this, doOutcome, swPortError);
        Switcher.onEvent[swPulseExpired] = QX_LINK(&Switcher, doEvent, swToggle);
        Switcher.Data[swPortNumber] = QX_LINK(&PortText, readValue, 0);
        Switcher.Data[swPulseLength] = QX_LINK(&PulseText, readValue, 0);
        Switcher.SetCreateProc(CreateSubScheme<TClassMultiElement_16D8160>);
    }
    void doOutcome(TData&, std::uint16_t index) {
        const auto now = TClock::now();
        if (index == swSwitchedOn) SwitchedOn = now, On = true;
        if (index == swSwitchedOff) SwitchedOff = now, Off = true;
        if (index == swPortError) PortError = true;
    }
    void Send(std::uint16_t input) {
        TData value;
        Switcher.doEvent(value, input);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    TSerialPty pty;
    std::string whyNot;
    if (!pty.Start(whyNot)) {
        std::fprintf(stderr, "no pseudo-terminal pair: %s\n", whyNot.c_str());
        return 2;
    }
    pty.Drain();

    THost host;
    StartFramework();
    TArrivals arrivals(pty);
    std::printf("run  toggle->\"ATH1\\r\"  toggle->SwitchedOn  \"ATH1\\r\"->\"ATH\\r\"   (ms; pulse \"3\")\n");
    std::printf("design       200.0              400.0              2500.0\n");
    double sum[3] = {0, 0, 0};
    std::size_t seen = 0;
    int failures = 0;
    for (int run = 1; run <= runs; ++run) {
        host.Send(swReset);
        host.On = host.Off = host.PortError = false;
        const auto t0 = TClock::now();
        host.Send(swToggle);
        TClock::time_point onAt{}, offAt{};
        std::size_t end = seen;
        const bool done = RunMessagesUntil(
            [&] {
                std::size_t e = 0;
                return host.PortError ||
                       (host.Off && arrivals.Find("ATH1\r", seen, onAt, e) && arrivals.Find("ATH\r", e, offAt, end));
            },
            10000);
        if (!done || host.PortError || !host.On) {
            std::printf("%3d  failed (%s)\n", run, host.PortError ? "port error" : "timed out");
            ++failures;
            continue;
        }
        seen = end;
        const double d[3] = {MsSince(t0, onAt), MsSince(t0, host.SwitchedOn), MsSince(onAt, offAt)};
        std::printf("%3d  %12.1f  %18.1f  %17.1f\n", run, d[0], d[1], d[2]);
        for (int i = 0; i < 3; ++i) sum[i] += d[i];
    }
    const int good = runs - failures;
    if (good > 0)
        std::printf("mean %12.1f  %18.1f  %17.1f\n", sum[0] / good, sum[1] / good, sum[2] / good);
    host.Send(swReset);
    StopFramework();
    return failures == 0 ? 0 : 1;
}
