#pragma once
// Serial ports: open a port by its device name, configure it from a port
// definition text, write to it synchronously, close it. The platform's own
// device is the default; tests install an in-memory one.

#include <cstdint>
#include <string>
#include <string_view>

#include "winlib/seam.h"

// An operating-system file handle as an integer: a Win32 HANDLE, a POSIX
// descriptor, or an id of a test device. All bits set means "no port".
using TPortHandle = std::intptr_t;
inline constexpr TPortHandle InvalidPortHandle = -1;

class TSerialDevice {
public:
    TSerialDevice() = default;
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;
    virtual ~TSerialDevice() = default;

    // Opens "\\.\ComN" for reading and writing, exclusively; returns
    // InvalidPortHandle when the port is missing or in use. Natively a name
    // starting with '/' is a device path, the handle is the port's
    // descriptor, and errno tells why an open failed.
    virtual TPortHandle Open(std::string_view deviceName) = 0;
    // Reads the port's current settings, changes them as `definition`
    // says ("baud=2400 parity=N data=8 stop=1 octs=off") and applies them,
    // then sets every time-out value to `timeoutMs`. False when the text
    // cannot be understood or a setting cannot be applied.
    virtual bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) = 0;
    // Synchronous write. Returns false when the write failed; otherwise
    // true with `written` the bytes accepted, fewer than `count` when the
    // write time-out ran out first.
    virtual bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) = 0;
    virtual void Close(TPortHandle port) = 0;
};

// The platform's own device: the Win32 communications API on Windows,
// termios elsewhere.
TSerialDevice& PlatformSerialDevice();

// The device in use now: the platform's own, or a test's stand-in.
using TSerialSeam = TSeam<TSerialDevice, PlatformSerialDevice>;
inline TSerialDevice& CurrentSerialDevice() { return TSerialSeam::Current(); }
// nullptr selects the platform's own; gives back the stand-in that was in
// force (nullptr: none).
inline TSerialDevice* SetSerialDevice(TSerialDevice* device) { return TSerialSeam::Set(device); }

#if !defined(_WIN32)
// Where port N lives off Windows: $MODEMSWITCH_COM_DIR/comN when that
// variable names a directory (of links to terminals), else /dev/ttyS<N-1>.
// Empty for N <= 0.
std::string SerialDevicePath(std::int32_t portNumber);
// Whether the port can run at `baud` bits per second.
bool IsSerialSpeed(std::int32_t baud);
#endif

// The port number in a device name: "\\.\Com6", "\\.\COM6" and "com6"
// give 6. Anything else (no number, a sign, leading zeros, trailing
// characters, a number out of range) gives 0; so do Com0 and Com-1.
std::int32_t SerialPortNumber(std::string_view deviceName);

// A port definition text taken apart. Only the settings the text names are
// changed; the others keep the port's current value (zero here).
struct TSerialSettings {
    std::int32_t Baud = 0;       // bits per second
    char Parity = 0;             // 'N', 'O', 'E', 'M' or 'S'
    std::int32_t DataBits = 0;   // 5..8
    std::int32_t StopBits = 0;   // tenths: 10, 15 or 20
    std::int32_t OutCtsFlow = -1;  // 1 on, 0 off, -1 not named
};

// Parses "key=value" settings separated by blanks: baud (a positive
// decimal number), parity (n, o, e, m, s), data (5..8), stop (1, 1.5, 2),
// octs (on, off); keys and letters in either case; a key named twice
// keeps its last value. False for anything else, or for an empty text.
bool ParseSerialDefinition(std::string_view text, TSerialSettings& settings);
