#pragma once
// A pseudo-terminal pair standing in for the cable to a modem, for tests
// that drive the platform's own serial device. One end is serial port
// TSerialPty::Port; the test reads what arrives at the other end.
// Natively it is an openpty pair reached through $MODEMSWITCH_COM_DIR.
// Under Wine it is a socat pair (tests/wine/serial-pty.sh) mapped as the
// prefix's dosdevices/com6, with the reading end as com26.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "winlib/serial.h"

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

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// A port's line settings as the system reports them.
struct TPortReadback {
    std::int32_t Baud = 0;
    std::int32_t DataBits = 0;
    char Parity = '?';           // N, O, E, M, S
    std::int32_t StopBits = 0;   // tenths: 10, 15, 20
    bool OutCtsFlow = true;
    bool Raw = false;            // no line editing, echo or output processing
};
bool ReadPortSettings(TPortHandle port, TPortReadback& out);
