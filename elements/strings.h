#pragma once
// String elements: building a text from a mask with numbered placeholders,
// and testing a text against a wildcard mask.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/events.h"

// Decides whether an occurrence found by ReplaceAll is replaced. It gets the
// text from the start of the occurrence to the end.
using TReplaceTest = std::function<bool(std::string_view fromOccurrence)>;

// Replaces every occurrence of pattern in text, left to right. An accepted
// occurrence is replaced and the search goes on after the inserted text
// (which is never rescanned by the same call); a refused one is skipped by
// one character, so an overlapping occurrence may still be taken. With no
// test every occurrence is accepted. An empty pattern changes nothing.
void ReplaceAll(std::string& text, std::string_view pattern, std::string_view replacement,
                const TReplaceTest& accept = {});

// Wildcard match of t against m from the 1-based positions i and j: '*' is
// any run of characters, '?' one character other than the byte 0, '#' one
// digit 0..9, every other byte itself. A position past the end reads as the
// byte 0. Callers append a byte 0 to both texts so that a mask has to cover
// the whole text. Work is bounded by about length(t) * length(m) steps and
// uses no recursion, whatever the number of '*'.
bool MaskMatch(std::string_view t, std::string_view m, std::size_t i = 1, std::size_t j = 1);

// Builds a text from Mask: %1..%Count become the texts read from Str, "%%"
// becomes "%".
class TQXFormatStr {
public:
    std::int32_t Count = 0;
    std::vector<TQX_Event> Str;
    TText Mask;
    TQX_Event onFormat;

    // Resizes Str to n entries (none for n < 0; new ones unlinked) and sets Count = n.
    void SetCount(std::int32_t n);

    void doFormat(TData& value, std::uint16_t index);
};

// Tests a text against a wildcard mask and fires onTrue or onFalse with it.
class TQXStrMask {
public:
    TText Mask;
    std::uint8_t IgnoreCase = 0;  // exactly 1: lower both texts before matching
    TQX_Event Text;
    TQX_Event onTrue;
    TQX_Event onFalse;

    void doCompare(TData& value, std::uint16_t index);
    // Whether the whole of `text` matches the mask, as doCompare decides.
    bool Matches(std::string_view text) const;
};
