// Port names and port definition texts on arbitrary bytes: no crash, no
// sanitizer report, only settings a port can have, and a refused text
// leaves the settings as they were.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "winlib/serial.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::int32_t port = SerialPortNumber(text);
    if (port < 0) std::abort();
    // A number that came out goes back in as the same name.
    if (port > 0 && SerialPortNumber("\\\\.\\Com" + std::to_string(port)) != port) std::abort();

    TSerialSettings s;
    s.Baud = 77;
    if (!ParseSerialDefinition(text, s)) {
        if (s.Baud != 77) std::abort();
        return 0;
    }
    if (s.Baud < 0) std::abort();
    if (s.Parity != 0 && std::string_view("NOEMS").find(s.Parity) == std::string_view::npos) std::abort();
    if (s.DataBits != 0 && (s.DataBits < 5 || s.DataBits > 8)) std::abort();
    if (s.StopBits != 0 && s.StopBits != 10 && s.StopBits != 15 && s.StopBits != 20) std::abort();
    if (s.OutCtsFlow < -1 || s.OutCtsFlow > 1) std::abort();
    return 0;
}
