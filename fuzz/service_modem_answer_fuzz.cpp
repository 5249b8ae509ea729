// What a modem (or anything on the far end of the cable) sends, in pieces
// of any size: no crash, no sanitizer report, and a command is judged by a
// line of "OK" or "ERROR" alone.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/service/switch_port.h"

namespace {

class TWriteOnly final : public TSerialDevice {
public:
    TPortHandle Open(std::string_view) override { return 3; }
    bool Configure(TPortHandle, std::string_view, std::uint32_t) override { return true; }
    bool Write(TPortHandle, const char*, std::uint32_t count, std::uint32_t& written) override {
        written = count;
        return true;
    }
    void Close(TPortHandle) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    TWriteOnly device;
    TSwitchPort port(device, "/dev/ttyUSB0", MakeDeviceKind({}), 1);
    TModemLine& line = port.Line(1);
    int answers = 0;
    line.Answered = [&] { ++answers; };
    std::uint32_t written = 0;
    port.Write(port.Open("\\\\.\\Com1"), "ATH1\r", 5, written);
    // The first byte cuts the rest into pieces.
    const std::size_t piece = 1 + data[0] % 16;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (std::size_t at = 0; at < bytes.size(); at += piece) port.Received(bytes.substr(at, piece));
    const TAnswer answer = line.LastCommand().Answer;
    if (answers > 1) std::abort();  // one answer per command
    if ((answers == 1) != (answer == TAnswer::Ok || answer == TAnswer::Error)) std::abort();
    if (answers == 1 && bytes.find(answer == TAnswer::Ok ? "OK" : "ERROR") == std::string_view::npos) std::abort();
    return 0;
}
