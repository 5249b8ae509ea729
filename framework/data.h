#pragma once
// TData: the tagged value that travels along every link, with the
// lenient conversions between integer, real and text.

#include <cstdint>

#include "framework/text.h"

struct TQX_Event;

// Kind codes; the names are those of TypeNames.
enum : std::uint8_t {
    dtNull = 0,
    dtInteger = 1,
    dtString = 2,
    dtData = 3,
    dtCombo = 4,
    dtStrList = 5,
    dtIcon = 6,
    dtReal = 7,
    dtColor = 8,
    dtScript = 9,
    dtStream = 10,
    dtBitmap = 11,
    dtWave = 12,
    dtArray = 13,
    dtComboEx = 14,
    dtFont = 15,
    dtMatrix = 16,
    dtJpeg = 17,
    dtMenu = 18,
    dtCode = 19,
    dtObject = 20,
    dtType = 21,
    dtBreak = 22,
};

// Bit 7 of Kind: the value is being forwarded to NextEvent.
inline constexpr std::uint8_t ForwardFlag = 0x80;

inline constexpr int TypeNameCount = 23;
extern const char* const TypeNames[TypeNameCount];

struct TData {
    std::uint8_t Kind = dtNull;
    std::int32_t IntValue = 0;
    TText TextValue;
    double RealValue = 0.0;
    const TQX_Event* NextEvent = nullptr;
    TData* NextValue = nullptr;  // not owned: a chain lives in its builder's frame
    // Array and Matrix values refer to their object here; IntValue stays 32-bit.
    void* ObjectRef = nullptr;
};

// Builders: overwrite the value, clear NextEvent and NextValue.
void SetNull(TData& value);
void SetInteger(TData& value, std::int32_t n);
void SetText(TData& value, const TText& s);
void SetReal(TData& value, double r);

// Predicates.
inline bool IsNull(const TData& value) { return value.Kind == dtNull; }
inline bool IsInteger(const TData& value) { return value.Kind == dtInteger; }
bool AsFlag(const TData& value);

// Conversions; the value is not changed.
std::int32_t AsInteger(const TData& value);
double AsReal(const TData& value);
TText AsText(const TData& value);

// Number text.
TText IntToText(std::int32_t n);
std::int32_t TextToInt(std::string_view s);
TText RealToText(double x);
double TextToReal(std::string_view s);

// A real rounded to the nearest integer (ties to even) as a 64-bit integer,
// of which the low 32 bits are kept. Non-finite reals and reals whose
// rounding leaves the 64-bit range give 0.
std::int32_t RoundToInt32(double x);
// Rounded to the nearest 64-bit integer, ties to even; false when the
// real is not finite or its rounding leaves the 64-bit range.
bool RoundToInt64(double x, std::int64_t& out);
