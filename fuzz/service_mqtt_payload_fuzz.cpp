// Payloads on the MQTT door's command topics, as anyone who may publish to
// the broker sends them: no crash, no sanitizer report, and only a request
// the door has: a switch verb, or a pulse length above 0.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/service/mqtt_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);

    TVerb verb = TVerb::Status;
    if (ParseMqttSwitch(payload, verb) && verb != TVerb::On && verb != TVerb::Off && verb != TVerb::Toggle) std::abort();

    for (const std::string length : {"0", "5"}) {
        std::string seconds, why;
        if (ParseMqttPulse(payload, length, seconds, why)) {
            std::string again;
            if (!NormalizePulse(seconds, again) || again == "0") std::abort();
        } else if (why.empty()) {
            std::abort();
        }
    }
    std::string seconds;
    if (ParseMqttPulseLength(payload, seconds) && (seconds.empty() || seconds == "0")) std::abort();
    if (ShownPayload(payload).size() > 48) std::abort();
    return 0;
}
