#pragma once
// Modbus RTU frames of a relay board: write one coil (function 05), read
// coils (function 01), and the replies to them, CRC-16 checked.

#include <cstdint>
#include <string>
#include <string_view>

std::uint16_t ModbusCrc(std::string_view bytes);
// The frame with its CRC, low byte first.
std::string ModbusFrame(std::string body);
std::string WriteCoilFrame(int unit, int coil, bool on);
std::string ReadCoilsFrame(int unit, int firstCoil, int count);

struct TModbusReply {
    enum TKind { Incomplete, Garbage, Done, Exception } Kind = Incomplete;
    std::size_t Length = 0;  // bytes of the frame (Done, Exception)
    int Code = 0;            // the exception code
    std::string Data;        // function 01: the coil bytes
};

// The reply to `request` at the start of `bytes`: a write's echo, a read's
// coil bytes, or an exception from the same unit.
TModbusReply ParseModbusReply(std::string_view request, std::string_view bytes);

// "illegal data address": what an exception code means.
std::string ModbusExceptionText(int code);
