#include "elements/com.h"

#include <algorithm>
#include <limits>
#include <string>

TQXCOM::TQXCOM() { PortHandle = InvalidPortHandle; }

TQXCOM::~TQXCOM() { ClosePort(); }

void TQXCOM::ClosePort() {
    if (PortHandle != InvalidPortHandle) Device().Close(PortHandle);
    PortHandle = InvalidPortHandle;
    PortDevice = nullptr;
}

void TQXCOM::doOpen(TData& value, std::uint16_t) {
    ClosePort();
    // No scheme sets a parity outside the table; treat one as none.
    const char parity = (Parity >= 0 && Parity <= 4) ? "NOEMS"[Parity] : 'N';
    const std::int32_t number = FetchInteger(value, Port, PortIndex + 1);
    const std::int32_t baud = FetchInteger(value, Baud, BaudRate);
    // A linked element answering a read may have opened a port through us.
    ClosePort();

    const std::string device = "\\\\.\\Com" + std::string(IntToText(number).view());
    TSerialDevice& serial = CurrentSerialDevice();
    PortHandle = serial.Open(device);
    if (PortHandle == InvalidPortHandle) return;
    PortDevice = &serial;

    std::string definition = "baud=";
    definition += IntToText(baud).view();
    definition += " parity=";
    definition += parity;
    definition += " data=8 stop=1 ";
    definition += "octs=off";
    if (!serial.Configure(PortHandle, definition, Timeout)) ClosePort();
}

void TQXCOM::doWrite(TData& value, std::uint16_t) {
    const TText text = AsText(value);
    if (PortHandle == InvalidPortHandle) return;
    const auto count =
        static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), std::numeric_limits<std::uint32_t>::max()));
    std::uint32_t written = 0;
    const bool ok = Device().Write(PortHandle, text.data(), count, written);
    const auto reported = static_cast<std::int32_t>(std::min<std::uint32_t>(written, std::numeric_limits<std::int32_t>::max()));
    FireInteger(onWrite, ok ? reported : 0);
}

void TQXCOM::doClose(TData&, std::uint16_t) { ClosePort(); }
