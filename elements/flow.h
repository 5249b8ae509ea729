#pragma once
// Flow elements: they steer events and values through a scheme and do no
// input or output of their own.
//
// Where a property and a data-in point share a name, the property keeps the
// plain name (it is what schemes set) and the point carries "Point":
// TQXDoData::Data / DataPoint, TQXIf_else::Op1 / Op1Point, ...

#include <cstdint>
#include <vector>

#include "framework/events.h"

// Fans one event out to its outputs, in index order, each with its own copy.
class TQXHub {
public:
    std::uint8_t OutCount = 0;
    std::uint8_t InCount = 0;  // kept for the schemes; no effect at run time
    std::vector<TQX_Event> onEvent;

    // Resizes onEvent to n entries (new ones unlinked); OutCount = low 8 bits of n.
    void SetOutCount(std::uint16_t n);

    void doEvent(TData& value, std::uint16_t index);
};

// Fires a fixed or read value.
class TQXDoData {
public:
    TData Data;
    TQX_Event DataPoint;
    TQX_Event onData;

    void doData(TData& value, std::uint16_t index);
};

// Comparison codes of TQXIf_else.
enum : std::uint8_t {
    cmpEqual = 0,
    cmpLess = 1,
    cmpGreater = 2,
    cmpLessOrEqual = 3,
    cmpGreaterOrEqual = 4,
    cmpNotEqual = 5,
};

// The kind of a decides how b is converted: NULL equals only NULL (for
// every code), Integer and Real compare numerically, String compares bytes
// (codes 0 and 5 exactly; 1..4 with ASCII letters folded to capitals, up to
// the first zero byte). Other kinds, and codes above 5, give false.
bool CompareValues(const TData& a, const TData& b, std::uint8_t code);

// Compares two operands and passes the incoming value on to one of two outputs.
class TQXIf_else {
public:
    std::uint8_t Comparison = 0;
    TData Op1;
    TData Op2;
    TQX_Event Op2Point;
    TQX_Event Op1Point;
    TQX_Event onTrue;
    TQX_Event onFalse;

    void doCompare(TData& value, std::uint16_t index);
};

// Stores a value and gives it back on request.
class TQXMemory {
public:
    TData Value;
    TData Default;
    TQX_Event onData;
    TQX_Event Data;

    void doValue(TData& value, std::uint16_t index);
    void doClear(TData& value, std::uint16_t index);
    void readValue(TData& value, std::uint16_t index);
};

// Routes an event to the output chosen by an integer index.
class TQXIndexToChanel {
public:
    std::int32_t Count = 0;
    TData Data;
    TQX_Event DataPoint;
    TQX_Event Index;
    std::vector<TQX_Event> onEvent;

    // Resizes onEvent to n entries (none for n < 0) and sets Count = n.
    void SetCount(std::int32_t n);

    void doEvent(TData& value, std::uint16_t index);
};
