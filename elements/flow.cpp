#include "elements/flow.h"

#include <algorithm>
#include <string_view>

namespace {

// A count nobody means, read from a bad property, must not exhaust memory;
// the outputs past this many simply stay absent (and so unlinked).
constexpr std::int32_t MaxOutputs = 65536;

// Sign of the comparison of two texts with a..z read as A..Z, as unsigned
// bytes, ending at the first zero byte of either.
int CompareFolded(std::string_view a, std::string_view b) {
    for (std::size_t i = 0;; ++i) {
        unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 0x20);
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 0x20);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

// Codes 0..5 applied to a three-way result.
bool Holds(int order, std::uint8_t code) {
    switch (code) {
        case cmpEqual: return order == 0;
        case cmpLess: return order < 0;
        case cmpGreater: return order > 0;
        case cmpLessOrEqual: return order <= 0;
        case cmpGreaterOrEqual: return order >= 0;
        case cmpNotEqual: return order != 0;
        default: return false;
    }
}

template <class T>
bool HoldsFor(T a, T b, std::uint8_t code) {
    // Spelled out rather than via a three-way result so that a NaN real
    // compares as the hardware says (unequal to everything).
    switch (code) {
        case cmpEqual: return a == b;
        case cmpLess: return a < b;
        case cmpGreater: return a > b;
        case cmpLessOrEqual: return a <= b;
        case cmpGreaterOrEqual: return a >= b;
        case cmpNotEqual: return a != b;
        default: return false;
    }
}

}  // namespace

// --- TQXHub ---

void TQXHub::SetOutCount(std::uint16_t n) {
    onEvent.resize(n);
    OutCount = static_cast<std::uint8_t>(n & 0xFF);
}

void TQXHub::doEvent(TData& value, std::uint16_t) {
    for (std::size_t i = 0; i < OutCount && i < onEvent.size(); ++i) {
        // A copy of the link: a receiver may resize this hub's list.
        const TQX_Event link = onEvent[i];
        FireCopy(link, value);
    }
}

// --- TQXDoData ---

void TQXDoData::doData(TData& value, std::uint16_t) {
    SetNull(value);
    const TData v = FetchValue(value, DataPoint, &Data);
    ForwardValue(value, onData, v);
}

// --- TQXIf_else ---

bool CompareValues(const TData& a, const TData& b, std::uint8_t code) {
    switch (a.Kind) {
        case dtNull: return b.Kind == dtNull;
        case dtInteger: return HoldsFor<std::int32_t>(a.IntValue, AsInteger(b), code);
        case dtReal: return HoldsFor<double>(a.RealValue, AsReal(b), code);
        case dtString: {
            const TText other = AsText(b);
            if (code == cmpEqual) return a.TextValue.view() == other.view();
            if (code == cmpNotEqual) return a.TextValue.view() != other.view();
            return Holds(CompareFolded(a.TextValue.view(), other.view()), code);
        }
        default: return false;
    }
}

void TQXIf_else::doCompare(TData& value, std::uint16_t) {
    const TData saved = value;
    const TData a = FetchValue(value, Op1Point, &Op1);
    const TData b = FetchValue(value, Op2Point, &Op2);
    ForwardValue(value, CompareValues(a, b, Comparison) ? onTrue : onFalse, saved);
}

// --- TQXMemory ---

void TQXMemory::doValue(TData& value, std::uint16_t) {
    Value = FetchValue(value, Data, nullptr);
    ForwardValue(value, onData, Value);
}

void TQXMemory::doClear(TData& value, std::uint16_t) {
    Value = Default;
    ForwardValue(value, onData, Value);
}

void TQXMemory::readValue(TData& value, std::uint16_t) { value = Value; }

// --- TQXIndexToChanel ---

void TQXIndexToChanel::SetCount(std::int32_t n) {
    onEvent.resize(static_cast<std::size_t>(std::clamp(n, 0, MaxOutputs)));
    Count = n;
}

void TQXIndexToChanel::doEvent(TData& value, std::uint16_t) {
    // The index first: with both points unlinked it takes the incoming value.
    const std::int32_t i = FetchInteger(value, Index, 0);
    TData v = FetchValue(value, DataPoint, &Data);
    value = std::move(v);
    if (i < 0 || i >= Count || static_cast<std::size_t>(i) >= onEvent.size()) return;
    ForwardSame(value, onEvent[static_cast<std::size_t>(i)]);
}
