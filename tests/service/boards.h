#pragma once
// The relay boards and lines the daemon drives, as the tests see them from
// the far end: a simulator program (lcus_sim, modbus_sim) on a
// pseudo-terminal, or a terminal whose modem control lines live in a file
// (the lines shim preloaded into the daemon). Each keeps what reached the
// device, with the time it came.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/service/program.h"

struct TDeviceEvent {
    std::int64_t AtMs;  // since the epoch
    std::string What;   // "CH2:ON", "COIL1:OFF", "READ", "STATUS", "DTR:ON RTS:OFF"
    std::string Hex;    // the bytes that came ("a00201a3"); empty for lines
};

class TDeviceStandIn {
public:
    virtual ~TDeviceStandIn() = default;
    // Everything that reached the device, in order.
    virtual std::vector<TDeviceEvent> Events() const = 0;
    // The switches alone ("CH2:ON COIL1:OFF"), without queries.
    std::string Switches() const;
    bool WaitForSwitches(std::size_t count, int ms) const;
    // The board taken away (its terminal gone) and put back.
    virtual void Unplug() = 0;
    virtual void Plug() = 0;
};

// lcus_sim or modbus_sim with `args`, its terminal linked at `link`.
class TBoardStandIn final : public TDeviceStandIn {
public:
    TBoardStandIn(std::string program, std::string link, std::vector<std::string> args);
    ~TBoardStandIn() override;
    std::vector<TDeviceEvent> Events() const override;
    void Unplug() override;
    void Plug() override;

private:
    std::string program_, link_, log_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
};

// A terminal at `link` whose DTR and RTS the preloaded shim keeps in a file.
class TLineStandIn final : public TDeviceStandIn {
public:
    explicit TLineStandIn(std::string link);
    ~TLineStandIn() override;
    std::vector<TDeviceEvent> Events() const override;  // "DTR:ON RTS:OFF" per change
    void Unplug() override { modem_.Unplug(); }
    void Plug() override { modem_.Plug(); }
    // The lines stop moving, as a broken adapter's.
    void Stick(bool stuck);
    // The environment the daemon needs to see these lines.
    const std::string File;

private:
    TModemStandIn modem_;
};

// Sets the variables for as long as it lives (for the daemon it starts).
class TScopedEnvironment {
public:
    explicit TScopedEnvironment(std::vector<std::pair<std::string, std::string>> variables);
    ~TScopedEnvironment();

private:
    std::vector<std::pair<std::string, std::string>> saved_;
    std::vector<bool> had_;
};

// The preloaded shim's variables for a TLineStandIn.
std::vector<std::pair<std::string, std::string>> LinesEnvironment(const TLineStandIn& lines);
