// The string elements on arbitrary bytes. MaskMatch must give what the
// plain backtracking definition gives (checked where that one is cheap
// enough: short texts) and finish quickly on anything; TQXStrMask fires
// exactly one output with the text as read; TQXFormatStr fires one text
// that never holds the marker byte 1.
//
// Input: a flag byte, a split byte, then the bytes, split into a text and
// a mask at (split byte mod their length).
//   flags bits 0-1: Count 0..3 (3 stands for a huge Count set directly);
//   bit 2: IgnoreCase 1; bits 3-7: start positions for MaskMatch.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "elements/strings.h"
#include "tests/support/mask_reference.h"
#include "tests/support/probes.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t split = rest.empty() ? 0 : data[1] % (rest.size() + 1);
    const std::string_view text = rest.substr(0, split);
    const std::string_view mask = rest.substr(split);

    // --- MaskMatch ---
    const std::size_t i = 1 + ((flags >> 3) & 3);
    const std::size_t j = 1 + ((flags >> 5) & 7);
    const bool plain = MaskMatch(text, mask, i, j);
    std::string t(text);
    t.push_back('\0');
    std::string m(mask);
    m.push_back('\0');
    const bool ended = MaskMatch(t, m);
    if (text.size() <= 10 && mask.size() <= 10) {
        Check(plain == ReferenceMaskMatch(text, mask, i, j));
        Check(ended == ReferenceMaskMatch(t, m, 1, 1));
    }

    StartFramework();

    // --- TQXStrMask ---
    TLastValue yes, no;
    TQXStrMask strMask;
    strMask.Mask = TText(mask);
    strMask.IgnoreCase = (flags & 4) ? 1 : 0;
    strMask.onTrue = QX_LINK(&yes, doEvent, 0);
    strMask.onFalse = QX_LINK(&no, doEvent, 0);
    FireText(QX_LINK(&strMask, doCompare, 0), TText(text));
    Check(yes.Count + no.Count == 1);
    const TData& fired = yes.Count ? yes.Last : no.Last;
    Check(fired.TextValue.view() == text);
    if (!strMask.IgnoreCase) Check((yes.Count == 1) == ended);

    // --- TQXFormatStr ---
    TLastValue out;
    TQXFormatStr format;
    format.Mask = TText(mask);
    const int count = flags & 3;
    if (count == 3)
        format.Count = 2147483647;  // written directly: no points behind most of it
    else
        format.SetCount(count);
    format.onFormat = QX_LINK(&out, doEvent, 0);
    FireText(QX_LINK(&format, doFormat, 0), TText(text));
    Check(out.Count == 1);
    const std::string_view built = out.Last.TextValue.view();
    Check(built.find('\x01') == std::string_view::npos);
    if (mask.find_first_of(std::string_view("%\0\x01", 3)) == std::string_view::npos) Check(built == mask);

    StopFramework();
    return 0;
}
