#pragma once
// Values and stand-ins for the elements at the far end of a link, for tests.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/events.h"

// Values as a link carries them.
inline TData Int(std::int32_t n) {
    TData v;
    SetInteger(v, n);
    return v;
}
inline TData Text(const char* s) {
    TData v;
    SetText(v, s);
    return v;
}
inline TData Real(double r) {
    TData v;
    SetReal(v, r);
    return v;
}

// Answers a data read with a fixed value and notes the order of reads.
struct TSource {
    TData Value;
    std::vector<std::string>* Log = nullptr;
    std::string Name;
    void readValue(TData& value, std::uint16_t) {
        if (Log) Log->push_back(Name);
        value = Value;
    }
};

// Collects what arrives on an event.
struct TRecorder {
    std::vector<TData> Values;
    void doRecord(TData& value, std::uint16_t) { Values.push_back(value); }
};
