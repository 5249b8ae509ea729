#include "app/service/mqtt_payload.h"

#include <cctype>

namespace {

// Longer than any command: nothing longer is looked at.
constexpr std::size_t MaxCommand = 64;

std::string Word(std::string_view payload) {
    if (payload.size() > MaxCommand) return std::string(1, '\x01');  // never a valid word
    const std::size_t first = payload.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    payload = payload.substr(first, payload.find_last_not_of(" \t\r\n") - first + 1);
    std::string word(payload);
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

}  // namespace

bool ParseMqttSwitch(std::string_view payload, TVerb& verb) {
    const std::string word = Word(payload);
    if (word == "ON" || word == "1") verb = TVerb::On;
    else if (word == "OFF" || word == "0") verb = TVerb::Off;
    else if (word == "TOGGLE") verb = TVerb::Toggle;
    else return false;
    return true;
}

bool ParseMqttPulse(std::string_view payload, const std::string& pulseLength, std::string& seconds, std::string& why) {
    const std::string word = Word(payload);
    if (word.empty() || word == "PRESS") {
        if (pulseLength.empty() || pulseLength == "0") {
            why = "no pulse length: set one first";
            return false;
        }
        seconds = pulseLength;
        return true;
    }
    if (!NormalizePulse(word, seconds) || seconds == "0") {
        why = "seconds above 0 or PRESS expected";
        return false;
    }
    return true;
}

bool ParseMqttPulseLength(std::string_view payload, std::string& seconds) {
    return NormalizePulse(Word(payload), seconds) && seconds != "0";
}

std::string ShownPayload(std::string_view payload) {
    std::string s;
    for (char c : payload.substr(0, 40)) s += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return '"' + s + (payload.size() > 40 ? "…\"" : "\"");
}
