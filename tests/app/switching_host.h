#pragma once
// The non-visual half of the main window's wiring around the switching and
// request sub-schemes, for tests: the port and pulse fields are memories,
// the indicator and caption are one log. Toggle, expiry and request reach
// the switcher through one toggle hub; switch-on and switch-off delete the
// pending request, as the main window does.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/request.h"
#include "app/switching.h"
#include "elements/flow.h"
#include "framework/multi.h"
#include "tests/support/fake_serial.h"
#include "tests/support/virtual_clock.h"

// One line per thing that happened, stamped with the virtual time:
// "400 SwitchedOn", "200 write ATH1\r".
class TTimeline {
public:
    explicit TTimeline(const VirtualClock& clock) : clock_(clock) {}
    void Note(std::string_view what) { Lines.push_back(std::to_string(clock_.Now()) + " " + std::string(what)); }
    std::vector<std::string> Lines;

private:
    const VirtualClock& clock_;
};

// An in-memory serial device that also puts its opens, writes and closes on
// the timeline.
class TTimedSerial : public TFakeSerial {
public:
    explicit TTimedSerial(TTimeline& timeline) : timeline_(timeline) {}
    TPortHandle Open(std::string_view deviceName) override;
    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override;
    void Close(TPortHandle port) override;

private:
    TTimeline& timeline_;
};

class TSwitchingHost {
public:
    explicit TSwitchingHost(TTimeline& timeline);

    // What the user typed.
    void SetPort(std::string_view text) { SetText(PortText.Value, TText(text)); }
    void SetPulse(std::string_view text) { SetText(PulseText.Value, TText(text)); }

    // The host's requests.
    void Toggle() { Fire(ToggleHub, 0); }
    void Reset() { Fire(Switcher, swReset); }
    void StartPolling() { Fire(RemoteToggle, rqStartPolling); }
    void Fire(TQXMultiElement& container, std::uint16_t input);

    // The sub-schemes inside the containers.
    TClassMultiElement_16D8160& Switching() const;
    TClassMultiElement_16D88F0& Countdown() const;
    bool CountdownRunning() const;
    bool SequencerRunning() const;

    // Notes an outcome on the timeline; index = the switcher output.
    void doOutcome(TData& value, std::uint16_t index);

    TTimeline& Timeline;
    TQXMemory PortText;
    TQXMemory PulseText;
    TQXMultiElement Switcher;
    TQXMultiElement RemoteToggle;
    TQXHub ToggleHub;  // button, expiry and request
    TQXHub OnHub;      // note, delete request
    TQXHub OffHub;     // delete request, note
    TQXHub ExpiryHub;  // note, toggle
    TQXHub RemoteHub;  // note, toggle

private:
    void Fire(TQXHub& hub, std::uint16_t input);
};
