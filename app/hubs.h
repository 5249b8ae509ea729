#pragma once
// Hub set-up as every generated scheme writes it.

#include <cstdint>

#include "elements/flow.h"

// A hub's input count is only a note; its output count sizes the list.
inline TQXHub* SizedHub(TQXHub* hub, std::uint8_t inputs, std::uint16_t outputs) {
    hub->InCount = inputs;
    hub->SetOutCount(outputs);
    return hub;
}
