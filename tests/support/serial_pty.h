#pragma once
// A pseudo-terminal pair standing in for the cable to a modem, for tests
// that drive the platform's own serial device. One end is serial port
// TSerialPty::Port; the test reads what arrives at the other end.
// Natively it is an openpty pair reached through $MODEMSWITCH_COM_DIR.
// Under Wine it is a socat pair (tests/wine/serial-pty.sh) mapped as the
// prefix's dosdevices/com6, with the reading end as com26.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "winlib/serial.h"

// True when scripts/wine-run started this program.
inline bool RunsUnderWine() {
    const char* v = std::getenv("MODEMSWITCH_UNDER_WINE");
    return v != nullptr && std::string_view(v) == "1";
}

// A port's line settings as the system reports them.
struct TPortReadback {
    std::int32_t Baud = 0;
    std::int32_t DataBits = 0;
    char Parity = '?';           // N, O, E, M, S
    std::int32_t StopBits = 0;   // tenths: 10, 15, 20
    bool OutCtsFlow = true;
    bool Raw = false;            // no line editing, echo or output processing
};

class TSerialPty {
public:
    static constexpr std::int32_t Port = 6;
    static constexpr std::int32_t MissingPort = 9;  // no device behind it

    TSerialPty();
    ~TSerialPty();
    TSerialPty(const TSerialPty&) = delete;
    TSerialPty& operator=(const TSerialPty&) = delete;

    // False, with the reason, when this machine cannot make the pair.
    bool Start(std::string& whyNot);
    // Throws away whatever waits at the other end.
    void Drain();
    // What arrives at the other end: returns once `count` bytes came, or
    // with fewer after `waitMs` (a guard against hanging, not a measurement).
    std::string Read(std::size_t count, int waitMs = 3000);
    // The line settings of the port's terminal as the terminal itself
    // reports them: termios natively, `stty -a` of the pair's end under
    // Wine, so nothing of the program's own serial layer is trusted.
    bool ReadTerminalSettings(TPortReadback& out);

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// The settings of an open port, as the platform's serial API reports them.
bool ReadPortSettings(TPortHandle port, TPortReadback& out);

// Reads the output of `stty -a`. False when it names no speed or no
// character size.
bool ParseSttySettings(std::string_view text, TPortReadback& out);
