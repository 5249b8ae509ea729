#pragma once
// A channel's line as the service sees it. The switching scheme believes it
// talks to a modem on its own port; the switch port (switch_port.h) carries
// what it writes to the device, and this keeps each command with how its
// write went and what came back, for the service to judge the scheme's
// reports by.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/service/device_kind.h"
#include "winlib/serial.h"

struct TCommandRecord {
    std::string Bytes;     // what the scheme wrote; empty: no command since the last report
    bool Written = false;  // every byte taken
    TAnswer Answer = TAnswer::None;
    std::string Fault;     // why the device refused it (Answer == Error)
};

class TModemLine {
public:
    TModemLine(std::string devicePath, int channel, TDeviceKind& kind)
        : DevicePath(std::move(devicePath)), Channel(channel), kind_(kind) {}
    TModemLine(const TModemLine&) = delete;
    TModemLine& operator=(const TModemLine&) = delete;

    const std::string DevicePath;
    const int Channel;  // 1-based

    // Hooks for the service.
    std::function<void()> Writing;   // a command is about to replace the last one
    std::function<void()> Answered;  // the last command got its answer
    std::function<void(bool)> StateRead;  // the device says this channel is on or off

    // No answer came in time: the kind says what that means.
    void AnswerTimedOut();
    // The report that used the last command has been judged.
    void Consume() { last_ = TCommandRecord{}; }

    const TCommandRecord& LastCommand() const { return last_; }
    // errno of the last open that failed; 0 once an open succeeds.
    int LastOpenError() const { return lastOpenError_; }
    // Whether the scheme holds the port open now.
    bool Open() const { return opens_ > 0; }
    // The state the last confirmed or written command left; none: unknown.
    std::optional<bool> Known() const { return known_; }
    std::string_view Answerer() const { return kind_.Answerer(); }
    std::uint32_t AnswerWaitMs() const { return kind_.AnswerWaitMs(); }

    // From the switch port.
    void Opened() { ++opens_, lastOpenError_ = 0; }
    void OpenFailed(int error) { lastOpenError_ = error; }
    void Closed() {
        if (opens_ > 0) --opens_;
    }
    void Sent(std::string_view schemes, const TSent& sent);
    void Answer(TAnswer answer, const std::string& fault);
    void Forget() { known_.reset(); }
    // The next command only brings the device's own state into the scheme:
    // it is taken as done, and nothing goes to the device.
    void KeepNextCommand() { keepNext_ = true; }
    bool TakeKeptCommand() { return std::exchange(keepNext_, false); }

private:
    TDeviceKind& kind_;
    TCommandRecord last_;
    int lastOpenError_ = 0;
    int opens_ = 0;
    std::optional<bool> known_;
    bool keepNext_ = false;
};
