#include "winlib/obj.h"

#include <algorithm>
#include <cstring>
#include <utility>

TObj::~TObj() = default;

void TObj::Destroy() {
    RefCount = DyingCount;
    BeforeDestroy();
    // Told while the object is still whole, so the receiver may look at it
    // as what it is, not as the bare base a destructor leaves.
    if (const TDestroyHandler handler = std::exchange(OnDestroy, {}); handler.Code)
        handler.Code(handler.Object, this);
    delete this;
}

void TObj::RefDec() {
    RefCount -= 2;
    if (RefCount < 0 && (RefCount & 1) != 0) Destroy();
}

void TObj::Free() {
    // Already marked or being destroyed: freeing twice must not destroy twice.
    if (Destroying() || (RefCount & 1) != 0) return;
    if (RefCount == 0)
        Destroy();
    else
        RefCount -= 1;  // still referenced: the last RefDec destroys it
}

void TList::Add(std::uintptr_t value) {
    if (GrowthStep <= 0) GrowthStep = 4;
    if (capacity_ <= count_) {
        const std::int32_t capacity = count_ + GrowthStep;
        auto items = std::make_unique<std::uintptr_t[]>(static_cast<std::size_t>(capacity));
        if (count_ > 0) std::memcpy(items.get(), items_.get(), sizeof(std::uintptr_t) * static_cast<std::size_t>(count_));
        items_ = std::move(items);
        capacity_ = capacity;
    }
    items_[static_cast<std::size_t>(count_++)] = value;
}

void TList::Insert(std::int32_t index, std::uintptr_t value) {
    // An index outside 0..count appends rather than writing past the end.
    Add(value);
    if (index < 0 || index >= count_ - 1) return;
    std::uintptr_t* items = items_.get();
    std::memmove(items + index + 1, items + index, sizeof(std::uintptr_t) * static_cast<std::size_t>(count_ - 1 - index));
    items[index] = value;
}

std::uintptr_t TList::Get(std::int32_t index) const {
    if (index < 0 || index >= count_) return 0;
    return items_[static_cast<std::size_t>(index)];
}

std::int32_t TList::IndexOf(std::uintptr_t value) const {
    for (std::int32_t i = 0; i < count_; ++i)
        if (items_[static_cast<std::size_t>(i)] == value) return i;
    return -1;
}

void TList::DeleteRange(std::int32_t index, std::int32_t length) {
    if (length <= 0 || index < 0 || index >= count_) return;
    length = std::min(length, count_ - index);
    std::uintptr_t* items = items_.get();
    std::memmove(items + index, items + index + length,
                 sizeof(std::uintptr_t) * static_cast<std::size_t>(count_ - index - length));
    count_ -= length;
}

void TList::Clear() {
    items_.reset();
    count_ = 0;
    capacity_ = 0;
}

void TStrList::Insert(std::int32_t index, std::string_view s) {
    const auto at = std::clamp<std::int32_t>(index, 0, Count());
    strings_.insert(strings_.begin() + at, std::string(s));
}

const std::string& TStrList::Get(std::int32_t index) const {
    static const std::string none;
    if (index < 0 || index >= Count()) return none;
    return strings_[static_cast<std::size_t>(index)];
}

void TStrList::Delete(std::int32_t index) {
    if (index < 0 || index >= Count()) return;
    strings_.erase(strings_.begin() + index);
}

void TStrList::Clear() {
    while (Count() > 0) Delete(Count() - 1);
}

void TStrListEx::AddObject(std::string_view s, std::uintptr_t object) {
    const std::int32_t at = Count();
    Insert(at, s);
    objects_.Insert(at, object);
}

void TStrListEx::Delete(std::int32_t index) {
    if (index < 0 || index >= Count()) return;
    TStrList::Delete(index);
    if (index < objects_.Count()) objects_.Delete(index);
}
