#pragma once
// TQXCOM: a serial port that a scheme opens, writes text to and closes.
// It only writes; there is no receive path. Failures are quiet: a port that
// cannot be opened or configured stays closed, and a write on a closed port
// fires nothing, which is how a scheme tells that the port is wrong.

#include <cstdint>

#include "framework/events.h"
#include "winlib/serial.h"

class TQXCOM {
public:
    TQXCOM();
    ~TQXCOM();
    TQXCOM(const TQXCOM&) = delete;
    TQXCOM& operator=(const TQXCOM&) = delete;

    TPortHandle PortHandle = InvalidPortHandle;
    std::uint8_t PortIndex = 0;  // port PortIndex + 1 unless Port supplies one
    std::int32_t BaudRate = 0;
    std::int32_t Parity = 0;     // position in "NOEMS"; outside 0..4 means N
    std::uint32_t Timeout = 0;   // milliseconds, for every port time-out
    TQX_Event onWrite;
    TQX_Event Baud;
    TQX_Event Port;
    // The device that opened PortHandle and must close it, even when a test
    // has installed another one since.
    TSerialDevice* PortDevice = nullptr;

    void doOpen(TData& value, std::uint16_t index);
    void doWrite(TData& value, std::uint16_t index);
    void doClose(TData& value, std::uint16_t index);

private:
    TSerialDevice& Device() const { return PortDevice ? *PortDevice : CurrentSerialDevice(); }
    void ClosePort();
};
