#pragma once
// The service's serial device: the platform's own, opened at the service's
// device whatever port the scheme names, and listened to. The modem echoes
// a command and answers "OK" or "ERROR" on a line of its own; each command
// written is kept with how its write went and what came back, for the
// service to judge the scheme's reports by.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "winlib/serial.h"

enum class TAnswer { Pending, Ok, Error, None };

struct TCommandRecord {
    std::string Bytes;     // empty: no command since the last report
    bool Written = false;  // every byte taken
    TAnswer Answer = TAnswer::None;
};

class TModemLine final : public TSerialDevice {
public:
    TModemLine(TSerialDevice& inner, std::string devicePath) : DevicePath(std::move(devicePath)), inner_(inner) {}

    const std::string DevicePath;

    // Hooks for the service.
    std::function<void(TPortHandle)> Opened;   // start listening
    std::function<void(TPortHandle)> Closing;  // stop listening
    std::function<void()> Writing;              // a command is about to replace the last one
    std::function<void()> Answered;             // the last command got OK or ERROR

    // What the modem sent. Only whole lines count; a line of nothing but
    // noise longer than a modem's buffer is dropped.
    void Received(std::string_view bytes);
    // No answer came in time: the command stays unconfirmed.
    void AnswerTimedOut();
    // The report that used the last command has been judged.
    void Consume() { last_ = TCommandRecord{}; }

    const TCommandRecord& LastCommand() const { return last_; }
    // errno of the last open that failed; 0 once an open succeeds.
    int LastOpenError() const { return lastOpenError_; }
    TPortHandle OpenHandle() const { return open_; }

    TPortHandle Open(std::string_view deviceName) override;
    bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) override;
    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override;
    void Close(TPortHandle port) override;

private:
    void Line(std::string_view line);

    TSerialDevice& inner_;
    TCommandRecord last_;
    std::string partial_;
    int lastOpenError_ = 0;
    TPortHandle open_ = InvalidPortHandle;
};
