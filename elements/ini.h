#pragma once
// TQXini: reads, writes or deletes one value of an INI file. Nothing is
// cached: each operation resolves the name, opens a TIniFile, makes one
// profile call and frees the object, so elements sharing a file see each
// other's writes at once.
//
// Where a property and a data-in point share a name, the property keeps the
// plain name and the point carries "Point" (FileName / FileNamePoint, ...).

#include <cstdint>

#include "framework/events.h"
#include "winlib/inifile.h"

class TQXini {
public:
    TIniFile* Ini = nullptr;  // only while an operation runs
    TText FileName;
    TText Section;
    TText Key;
    std::uint8_t ValueType = 0;  // 0: Integer values; anything else: String
    TQX_Event FileNamePoint;
    TQX_Event SectionPoint;
    TQX_Event KeyPoint;
    TQX_Event Value;
    TQX_Event onRead;

    // Index 0 in the schemes: fires onRead with the value (0 or empty when missing).
    void doRead(TData& value, std::uint16_t index);
    // Index 1: writes Value (or the event's value) under the key.
    void doWrite(TData& value, std::uint16_t index);
    // Index 2: removes the key.
    void doDeleteKey(TData& value, std::uint16_t index);

private:
    class TOperation;
};
