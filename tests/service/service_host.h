#pragma once
// The service's core on the virtual clock with an in-memory port, and a
// modem on it that answers each command 1 ms after it was written: "OK",
// "ERROR", or nothing, as the test says.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/service/core.h"
#include "app/service/switch_port.h"
#include "framework/events.h"
#include "tests/support/fake_serial.h"
#include "tests/support/virtual_clock.h"

class TAnsweringSerial : public TFakeSerial {
public:
    enum TMode { Ok, Error, Silent } Mode = Ok;
    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override {
        const bool ok = TFakeSerial::Write(port, bytes, count, written);
        if (ok && written > 0 && Mode != Silent) Unread += std::string(bytes, written) + (Mode == Ok ? "\r\nOK\r\n" : "\r\nERROR\r\n");
        if (ok && written > 0 && Wrote) Wrote(std::string(bytes, written));
        return ok;
    }
    std::string Unread;  // echo and answer, not yet read by the line
    std::function<void(const std::string&)> Wrote;
};

struct TServiceHost {
    explicit TServiceHost(bool startOff = true, std::string pulse = "0") {
        StartFramework();
        Service = std::make_unique<TSwitchService>(
            Line, TServiceOptions{std::move(pulse), startOff, [this] { return Clock.Now(); }, nullptr, nullptr});
        Service->Start();
        Deliver();
    }
    ~TServiceHost() {
        Service.reset();
        StopFramework();
    }

    // Runs the clock to t in 1 ms steps, the modem's answers read as they come.
    void Until(std::int64_t t) {
        while (Clock.Now() < t) {
            Clock.Advance(1);
            Deliver();
        }
    }
    void Deliver() {
        if (Serial.Unread.empty()) return;
        const std::string bytes = std::move(Serial.Unread);
        Serial.Unread.clear();
        Port.Received(bytes);
    }
    void Submit(TVerb verb, std::string seconds = {}) {
        Service->Submit(TRequest{verb, std::move(seconds)}, [this](const TReply& reply) {
            Replies.push_back(std::to_string(Clock.Now()) + " " + std::to_string(reply.Code) + " " +
                              std::string(StateName(reply.Status.State)) + (reply.Status.Confirmed ? "" : " unconfirmed"));
            Last = reply;
        });
    }

    VirtualClock Clock;
    TAnsweringSerial Serial;
    TSwitchPort Port{Serial, "\\\\.\\Com1", MakeDeviceKind({}), 1};
    TModemLine& Line = Port.Line(1);
    TScopedOverride<TSerialSeam, TSerialDevice> UseLine{&Port};
    std::unique_ptr<TSwitchService> Service;
    std::vector<std::string> Replies;  // "400 0 on", "1200 0 on unconfirmed"
    TReply Last;
};
