#pragma once
// The kinds of device, one file each; made through MakeDeviceKind.

#include <memory>
#include <string>
#include <string_view>

#include "app/service/device_kind.h"

std::unique_ptr<TDeviceKind> MakeModemKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeLineKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeLcusKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeModbusKind(const TKindOptions& options);

// Whole lines out of bytes that come in pieces: `partial` keeps the start
// of the next one, at most `maxLine` characters (the rest of a longer run
// is dropped); empty lines are no lines.
template <typename F>
void SplitLines(std::string& partial, std::string_view bytes, std::size_t maxLine, F&& line) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!partial.empty()) line(std::string_view(partial));
            partial.clear();
        } else if (partial.size() < maxLine) {
            partial += c;
        }
    }
}

// "baud=B parity=N data=8 stop=1": a relay board's settings.
std::string BoardSettings(std::int32_t baud);
