#pragma once
// What the MQTT door accepts on its command topics: anyone who may publish
// to the broker writes these payloads, so each is parsed strictly and a
// refusal says why.

#include <string>
#include <string_view>

#include "app/service/protocol.h"

// P/ID/set: ON, OFF, TOGGLE, 1, 0, in any case, blanks around ignored.
bool ParseMqttSwitch(std::string_view payload, TVerb& verb);
// P/ID/pulse/set: seconds above 0 for this pulse alone, or PRESS or nothing
// for `pulseLength` (the button's length; "0": none set). False with why.
bool ParseMqttPulse(std::string_view payload, const std::string& pulseLength, std::string& seconds, std::string& why);
// P/ID/pulse_length/set: seconds above 0.
bool ParseMqttPulseLength(std::string_view payload, std::string& seconds);
// A payload as a log line may show it: short, printable, quoted.
std::string ShownPayload(std::string_view payload);
