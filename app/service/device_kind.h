#pragma once
// What stands on the far end of the port. The switching scheme writes
// "ATH1\r" and "ATH\r" whatever the device is; a kind turns those into
// what its device understands, judges the device's answers, and reads the
// device's state when it can. One kind per daemon, chosen at start.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TAnswer { Pending, Ok, Error, None };

// The port as a kind uses it: bytes out, and the modem control lines.
class TPortIo {
public:
    virtual ~TPortIo() = default;
    // False when the write failed; else `written` counts the bytes taken.
    virtual bool Write(std::string_view bytes, std::uint32_t& written) = 0;
    bool WriteAll(std::string_view bytes) {
        std::uint32_t written = 0;
        return Write(bytes, written) && written == bytes.size();
    }
    // What the device sends within `ms`, appended to `into`; false when
    // nothing came. Only for the last words before the daemon ends: the
    // event loop reads everything else.
    virtual bool Read(std::string& into, int ms) = 0;
    // TIOCM_* bits.
    virtual bool GetLines(int& bits) = 0;
    virtual bool SetLines(int raise, int lower) = 0;
};

// How a command went at once; Pending: the answer comes later.
struct TSent {
    bool Written = false;  // the whole command went out
    TAnswer Answer = TAnswer::None;
    std::string Fault;  // why, for an Error
    // The bytes the scheme is told were taken; -1: all when Written, else none.
    std::int64_t Taken = -1;
};

enum class TKindName { Modem, Dtr, Rts, Lines, Lcus, Modbus };

struct TKindOptions {
    TKindName Name = TKindName::Modem;
    int Channels = 1;
    std::int32_t Baud = 0;  // 0: the kind's own
    int ModbusUnit = 1;
    int ModbusFirstCoil = 0;
};

class TDeviceKind {
public:
    virtual ~TDeviceKind() = default;

    // "the modem", "the board": who answers, for messages.
    virtual std::string_view Answerer() const = 0;
    // The port settings for the scheme's own definition text.
    virtual std::string Settings(std::string_view schemes) const = 0;
    // Opening the port moves the device (modem lines rise): keep it open.
    virtual bool KeepsPortOpen() const { return false; }
    // How long a command waits for its answer before the kind's TimedOut.
    virtual std::uint32_t AnswerWaitMs() const { return 1000; }
    // The scheme's bytes for `channel` (1-based): written as the device needs.
    virtual TSent Command(TPortIo& io, int channel, std::string_view schemes) = 0;
    // The port was opened now; `known` holds each channel's last known state.
    virtual void Opened(TPortIo&, const std::vector<std::optional<bool>>&) {}
    // Asks the device for every channel's state; false: it cannot be asked.
    virtual bool AskStates(TPortIo&) { return false; }
    // What the device sent, in pieces of any size.
    virtual void Received(std::string_view bytes) = 0;
    // No answer came for `channel`: an Error with why, or None (unconfirmed).
    virtual TSent TimedOut(int channel) {
        (void)channel;
        return {true, TAnswer::None, {}};
    }
    // The port is gone or closed: nothing sent is answered now.
    virtual void Reset() {}
    // The daemon ends: what still waits to be sent goes now, each command
    // after the last one's answer or its time.
    virtual void Finish(TPortIo&) {}

    // Told by the kind: a command's answer, and a channel's state as read.
    std::function<void(int channel, TAnswer answer, const std::string& fault)> Answered;
    std::function<void(int channel, bool on)> StateRead;
};

// The scheme's two commands: true for on, false for off, nothing otherwise.
std::optional<bool> SchemeSwitch(std::string_view schemes);

// "modem", "dtr", "rts", "lines", "lcus", "modbus".
std::optional<TKindName> ParseKindName(std::string_view text);
std::string_view KindText(TKindName name);
// The channels a kind has when none are asked for, and at most.
int DefaultChannels(TKindName name);
int MaxChannels(TKindName name);

std::unique_ptr<TDeviceKind> MakeDeviceKind(const TKindOptions& options);
