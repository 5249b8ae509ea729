#include "app/service/device_kind.h"

#include "app/service/kinds/kinds.h"

namespace {

struct TKindRow {
    TKindName Name;
    std::string_view Text;
    int Default, Max;
};
constexpr TKindRow Kinds[] = {
    {TKindName::Modem, "modem", 1, 1}, {TKindName::Dtr, "dtr", 1, 1},   {TKindName::Rts, "rts", 1, 1},
    {TKindName::Lines, "lines", 2, 2}, {TKindName::Lcus, "lcus", 1, 8}, {TKindName::Modbus, "modbus", 1, 8},
};

const TKindRow& Row(TKindName name) {
    for (const TKindRow& row : Kinds)
        if (row.Name == name) return row;
    return Kinds[0];
}

}  // namespace

std::optional<bool> SchemeSwitch(std::string_view schemes) {
    if (schemes == "ATH1\r") return true;
    if (schemes == "ATH\r") return false;
    return std::nullopt;
}

std::optional<TKindName> ParseKindName(std::string_view text) {
    for (const TKindRow& row : Kinds)
        if (row.Text == text) return row.Name;
    return std::nullopt;
}

std::string_view KindText(TKindName name) { return Row(name).Text; }
int DefaultChannels(TKindName name) { return Row(name).Default; }
int MaxChannels(TKindName name) { return Row(name).Max; }

std::string BoardSettings(std::int32_t baud) {
    return "baud=" + std::to_string(baud > 0 ? baud : 9600) + " parity=N data=8 stop=1";
}

std::unique_ptr<TDeviceKind> MakeDeviceKind(const TKindOptions& options) {
    switch (options.Name) {
        case TKindName::Modem: return MakeModemKind(options);
        case TKindName::Dtr:
        case TKindName::Rts:
        case TKindName::Lines: return MakeLineKind(options);
        case TKindName::Lcus: return MakeLcusKind(options);
        case TKindName::Modbus: return MakeModbusKind(options);
    }
    return MakeModemKind(options);
}
