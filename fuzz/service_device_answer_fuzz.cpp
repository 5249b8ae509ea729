// What a relay board sends back, in pieces of any size: a CH340 board's
// status lines and a Modbus board's replies. No crash, no sanitizer report;
// a switch is judged once at most, and only by an answer that says so.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/service/device_kind.h"
#include "app/service/kinds/modbus_frame.h"

namespace {

class TTakesAll final : public TPortIo {
public:
    bool Write(std::string_view bytes, std::uint32_t& written) override {
        written = static_cast<std::uint32_t>(bytes.size());
        return true;
    }
    bool Read(std::string&, int) override { return false; }
    bool GetLines(int& bits) override { return bits = 0, true; }
    bool SetLines(int, int) override { return true; }
};

void Lcus(std::uint8_t control, std::string_view bytes) {
    TKindOptions options;
    options.Name = TKindName::Lcus;
    options.Channels = 8;
    const auto kind = MakeDeviceKind(options);
    int answers[9] = {};
    kind->Answered = [&](int channel, TAnswer answer, const std::string& fault) {
        if (channel < 1 || channel > 8 || ++answers[channel] > 1) std::abort();
        if ((answer == TAnswer::Error) == fault.empty()) std::abort();
    };
    kind->StateRead = [](int channel, bool) {
        if (channel < 1 || channel > 8) std::abort();
    };
    TTakesAll io;
    const int channel = 1 + control % 8;
    if (kind->Command(io, channel, control & 0x80 ? "ATH1\r" : "ATH\r").Answer != TAnswer::Pending) std::abort();
    kind->AskStates(io);
    const std::size_t piece = 1 + control % 13;
    for (std::size_t at = 0; at < bytes.size(); at += piece) kind->Received(bytes.substr(at, piece));
    if (answers[channel] == 1 && bytes.find(':') == std::string_view::npos) std::abort();
    for (int c = 1; c <= 8; ++c)
        if (c != channel && answers[c] != 0) std::abort();
}

void Modbus(std::uint8_t control, std::string_view bytes) {
    const std::string request = control & 1 ? WriteCoilFrame(1 + control % 247, control, control & 2)
                                            : ReadCoilsFrame(1 + control % 247, control, 1 + control % 16);
    const TModbusReply reply = ParseModbusReply(request, bytes);
    switch (reply.Kind) {
        case TModbusReply::Done:
            if (reply.Length > bytes.size() || bytes[0] != request[0]) std::abort();
            if (request[1] == 0x05 && bytes.substr(0, reply.Length) != request) std::abort();
            if (request[1] == 0x01 && reply.Data.size() != (1u + control % 16 + 7) / 8) std::abort();
            break;
        case TModbusReply::Exception:
            if (reply.Length != 5 || reply.Length > bytes.size()) std::abort();
            ModbusExceptionText(reply.Code);
            break;
        default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks the board and how the bytes are cut.
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (data[0] & 1)
        Modbus(data[1], bytes);
    else
        Lcus(data[1], bytes);
    return 0;
}
