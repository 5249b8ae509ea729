// What a browser or anybody on the network puts in the web door's way:
// the listening address of the settings, Host and Origin headers, cookies.
// No crash, no sanitizer report; a Host taken names where the door listens.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/service/web_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    THttpAddress address;
    if (ParseHttpAddress(text, address)) {
        if (address.Port < 1 || address.Port > 65535 || address.Host.empty()) std::abort();
        THttpAddress again;
        const std::string written =
            (address.V6() ? "[" + address.Host + "]" : address.Host) + ":" + std::to_string(address.Port);
        if (!ParseHttpAddress(written, again) || again.Host != address.Host || again.Port != address.Port) std::abort();
    }

    // The door on loopback, port 8080: what it lets through.
    THttpAddress door;
    door.Port = 8080;
    if (HostAllowed(text, door, false, "pi")) {
        const bool named = text == "localhost:8080" || text == "127.0.0.1:8080" || text == "LOCALHOST:8080" ||
                           text.find("8080") != std::string_view::npos;
        if (!named) std::abort();
    }
    OriginAllowed(text, "127.0.0.1:8080", false);
    CookieValue(text, "modemswitch");
    SecretsEqual(text, "0123456789abcdef");
    return 0;
}
