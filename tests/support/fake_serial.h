#pragma once
// An in-memory serial device for tests. While a TFakeSerial lives it is the
// current serial device; its destructor puts the previous one back.
//
//   TFakeSerial serial;                    // every port 1, 2, ... exists
//   serial.SetMissing(3);                  // ... except COM3
//   ... run the scheme ...
//   EXPECT_TRUE(serial.IsOpen(6));
//   EXPECT_EQ(serial.Output(6), "ATH1\r");
//
// Like a Win32 port it is exclusive: opening a port that is open fails.
// Every call is recorded in Calls.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "winlib/serial.h"

struct TSerialCall {
    enum TKind { Open, Configure, Write, Close };
    TKind Kind = Open;
    std::string Device;              // the name opened, or the name of the handle's port
    std::int32_t Port = 0;           // its port number; 0 when it names none
    TPortHandle Handle = InvalidPortHandle;  // returned by Open, given to the others
    std::string Definition;          // Configure: the port definition text
    std::uint32_t Timeout = 0;       // Configure: the time-out
    std::string Bytes;               // Write: the bytes handed over
    std::uint32_t Written = 0;       // Write: the count reported back
    bool Ok = false;                 // what the call answered (Close: the handle was open)
};

class TFakeSerial : public TSerialDevice {
public:
    TFakeSerial();
    ~TFakeSerial() override;

    // How port `port` behaves from now on.
    void SetMissing(std::int32_t port, bool missing = true);       // open fails: no such device
    void SetInUse(std::int32_t port, bool inUse = true);           // open fails: another program has it
    void SetConfigureFails(std::int32_t port, bool fails = true);  // the settings are refused
    void SetWriteFails(std::int32_t port, bool fails = true);      // writes fail, nothing is written
    // Each write takes at most `bytes` and reports a short count, as a
    // write time-out does; UINT32_MAX (the default) takes everything.
    void SetWriteLimit(std::int32_t port, std::uint32_t bytes);

    bool IsOpen(std::int32_t port) const;
    std::int32_t OpenCount() const;  // handles open now, over all ports
    // Every byte the port took, across opens, in order.
    std::string Output(std::int32_t port) const;
    // The last definition text and time-out applied successfully; empty / 0 if none.
    std::string Definition(std::int32_t port) const;
    std::uint32_t Timeout(std::int32_t port) const;

    std::vector<TSerialCall> Calls;
    std::vector<TSerialCall> CallsOf(TSerialCall::TKind kind) const;
    // Forgets the calls and the output; the port behaviours stay.
    void Clear();

    TPortHandle Open(std::string_view deviceName) override;
    bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) override;
    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override;
    void Close(TPortHandle port) override;

private:
    struct TPort {
        bool Missing = false;
        bool InUse = false;
        bool ConfigureFails = false;
        bool WriteFails = false;
        std::uint32_t WriteLimit = UINT32_MAX;
        std::string Output;
        std::string Definition;
        std::uint32_t Timeout = 0;
    };
    struct TOpen {
        std::int32_t Port;
        std::string Device;
    };

    TPort* Find(std::int32_t port);
    const TPort* Find(std::int32_t port) const;
    TPort& At(std::int32_t port) { return ports_[port]; }
    TSerialCall CallOn(TSerialCall::TKind kind, TPortHandle handle) const;

    std::map<std::int32_t, TPort> ports_;
    std::map<TPortHandle, TOpen> open_;
    TPortHandle nextHandle_ = 0x1000;
    TScopedOverride<TSerialSeam, TSerialDevice> installed_;
};
