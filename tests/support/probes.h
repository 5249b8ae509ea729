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

// Answers a data read with a fixed value; counts the reads and, with a
// log, notes their order by name.
struct TSource {
    TData Value;
    int Reads = 0;
    std::vector<std::string>* Log = nullptr;
    std::string Name;
    void readValue(TData& value, std::uint16_t) {
        ++Reads;
        if (Log) Log->push_back(Name);
        value = Value;
    }
};

// Collects what arrives on an event, with the index it came with.
struct TRecorder {
    std::vector<TData> Seen;
    std::vector<std::uint16_t> Indices;
    void doEvent(TData& value, std::uint16_t index) {
        Seen.push_back(value);
        Indices.push_back(index);
    }
};

// Counts what arrives and keeps only the last value, as its receiver sees
// it (without the forwarding flag): for loops that must not grow.
struct TLastValue {
    int Count = 0;
    TData Last;
    void doEvent(TData& value, std::uint16_t) {
        ++Count;
        Last = value;
        Last.Kind &= static_cast<std::uint8_t>(~ForwardFlag);
    }
};
