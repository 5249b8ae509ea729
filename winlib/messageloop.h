#pragma once
// Pumping messages for a while, for programs and tests that need real time.
// On Windows this is a real GetMessage-style loop that dispatches every
// waiting message (timer ticks included); elsewhere it drives the platform
// timer service, sleeping until the next timer is due. Both may be called
// from inside a tick's chain, as a modal loop would.

#include <cstdint>
#include <functional>

// Pumps for `milliseconds` of real time.
void RunMessagesFor(std::int32_t milliseconds);
// Pumps until `done` answers true (checked before waiting and after every
// message) or `timeoutMs` has passed; returns the last answer of `done`.
// On Windows a quit message ends the pump early and is posted again.
bool RunMessagesUntil(const std::function<bool()>& done, std::int32_t timeoutMs);
