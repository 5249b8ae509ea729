#pragma once
// The kinds of device, one file each; made through MakeDeviceKind.

#include <memory>

#include "app/service/device_kind.h"

std::unique_ptr<TDeviceKind> MakeModemKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeLineKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeLcusKind(const TKindOptions& options);
std::unique_ptr<TDeviceKind> MakeModbusKind(const TKindOptions& options);

// "baud=B parity=N data=8 stop=1": a relay board's settings.
std::string BoardSettings(std::int32_t baud);
