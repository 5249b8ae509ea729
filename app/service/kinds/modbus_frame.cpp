#include "app/service/kinds/modbus_frame.h"

namespace {

std::uint8_t Byte(std::string_view s, std::size_t at) { return static_cast<std::uint8_t>(s[at]); }

bool CrcFits(std::string_view frame) {
    const std::size_t n = frame.size();
    const std::uint16_t crc = ModbusCrc(frame.substr(0, n - 2));
    return Byte(frame, n - 2) == (crc & 0xFF) && Byte(frame, n - 1) == (crc >> 8);
}

TModbusReply Garbage() {
    TModbusReply reply;
    reply.Kind = TModbusReply::Garbage;
    return reply;
}

}  // namespace

std::uint16_t ModbusCrc(std::string_view bytes) {
    std::uint16_t crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

std::string ModbusFrame(std::string body) {
    const std::uint16_t crc = ModbusCrc(body);
    body += static_cast<char>(crc & 0xFF);
    body += static_cast<char>(crc >> 8);
    return body;
}

std::string WriteCoilFrame(int unit, int coil, bool on) {
    return ModbusFrame({static_cast<char>(unit), 0x05, static_cast<char>(coil >> 8), static_cast<char>(coil & 0xFF),
                        static_cast<char>(on ? 0xFF : 0x00), 0x00});
}

std::string ReadCoilsFrame(int unit, int firstCoil, int count) {
    return ModbusFrame({static_cast<char>(unit), 0x01, static_cast<char>(firstCoil >> 8),
                        static_cast<char>(firstCoil & 0xFF), static_cast<char>(count >> 8), static_cast<char>(count & 0xFF)});
}

TModbusReply ParseModbusReply(std::string_view request, std::string_view bytes) {
    TModbusReply reply;
    if (request.size() < 2) return Garbage();
    if (bytes.size() < 2) return reply;
    if (bytes[0] != request[0]) return Garbage();
    const std::uint8_t function = Byte(request, 1);
    if (Byte(bytes, 1) == (function | 0x80)) {
        if (bytes.size() < 5) return reply;
        if (!CrcFits(bytes.substr(0, 5))) return Garbage();
        return {TModbusReply::Exception, 5, Byte(bytes, 2), {}};
    }
    if (Byte(bytes, 1) != function) return Garbage();
    if (function == 0x05) {
        if (bytes.size() < request.size()) return reply;
        // The board echoes the request.
        if (bytes.substr(0, request.size()) != request) return Garbage();
        return {TModbusReply::Done, request.size(), 0, {}};
    }
    if (function == 0x01) {
        if (bytes.size() < 3) return reply;
        const std::size_t count = Byte(bytes, 2);
        const std::size_t wanted = request.size() >= 6 ? (((Byte(request, 4) << 8) | Byte(request, 5)) + 7u) / 8u : 0;
        if (count != wanted) return Garbage();
        if (bytes.size() < 5 + count) return reply;
        if (!CrcFits(bytes.substr(0, 5 + count))) return Garbage();
        return {TModbusReply::Done, 5 + count, 0, std::string(bytes.substr(3, count))};
    }
    return Garbage();
}

std::string ModbusExceptionText(int code) {
    switch (code) {
        case 1: return "illegal function";
        case 2: return "illegal data address";
        case 3: return "illegal data value";
        case 4: return "device failure";
        case 6: return "device busy";
        default: return "code " + std::to_string(code);
    }
}
