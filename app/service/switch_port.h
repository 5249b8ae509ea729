#pragma once
// The one port of the service, shared by its channels. Each channel's
// switching scheme names its own "port", the channel's number; all of them
// land here, on the one device opened once (and locked once). What a scheme
// writes goes through the device kind; what the device sends goes back to
// the kind, and its answers to the channel's line.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/service/device_kind.h"
#include "app/service/modemline.h"
#include "winlib/serial.h"
#include "winlib/timer.h"

class TSwitchPort final : public TSerialDevice {
public:
    TSwitchPort(TSerialDevice& inner, std::string devicePath, std::unique_ptr<TDeviceKind> kind, int channels);
    ~TSwitchPort() override;

    const std::string DevicePath;
    int Channels() const { return static_cast<int>(lines_.size()); }
    TModemLine& Line(int channel) { return *lines_.at(static_cast<std::size_t>(channel - 1)); }
    TDeviceKind& Kind() { return *kind_; }

    // Hooks for the daemon: listen to the device while it is open.
    std::function<void(TPortHandle)> Opened;
    std::function<void(TPortHandle)> Closing;

    // What the device sent.
    void Received(std::string_view bytes);
    // The device went away: nothing is held open for it now, and the port
    // closes once the channels let go.
    void Lost();
    // Opens the port for a moment and asks the device for every channel's
    // state; the answers come to the lines' StateRead. False: not asked.
    bool AskStates();
    // The daemon ends: the kind sends what still waits (see TDeviceKind::Finish).
    void Finish();
    // The device's descriptor while open, else InvalidPortHandle.
    TPortHandle Handle() const { return fd_; }

    // The channels' schemes: "\\.\ComN" opens channel N.
    TPortHandle Open(std::string_view deviceName) override;
    bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) override;
    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override;
    void Close(TPortHandle port) override;

private:
    class TIo;
    TModemLine* LineOf(TPortHandle port);
    bool Acquire(TModemLine* line);
    void Release();
    void CloseDevice();

    TSerialDevice& inner_;
    std::unique_ptr<TDeviceKind> kind_;
    std::unique_ptr<TIo> io_;
    std::vector<std::unique_ptr<TModemLine>> lines_;
    TPortHandle fd_ = InvalidPortHandle;
    int holders_ = 0;         // channels' opens, the kind's hold and a start-up question
    bool held_ = false;       // the kind keeps the port open
    bool asking_ = false;     // the start-up question holds the port
    TObjPtr<TTimer> askTimer_;
};
