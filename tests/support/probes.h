#pragma once
// Stand-ins for the elements at the far end of a link, for element tests.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/events.h"

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
