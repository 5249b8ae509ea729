#pragma once
// Links, event dispatch with forwarding, data reads with their fallbacks,
// and the start-up list.

#include <cstdint>
#include <type_traits>

#include "framework/data.h"

// Every receiving method has this form: (receiver, value, index).
using TQXMethod = void (*)(void* receiver, TData& value, std::uint16_t index);

// One link: an event-out point or a data-in point of an element.
struct TQX_Event {
    TQXMethod Method = nullptr;  // nullptr: the point is unlinked
    void* Receiver = nullptr;
    std::uint16_t Index = 0;

    bool Linked() const { return Method != nullptr; }
};

namespace qx_detail {
template <class>
struct MethodOwner;
template <class C>
struct MethodOwner<void (C::*)(TData&, std::uint16_t)> {
    using type = C;
};
}  // namespace qx_detail

// Binds one element and one of its receiving methods into a link record:
//   timer->onTimer = Bind<&TQXCounter::doNext>(counter, 0);
template <auto M>
TQX_Event Bind(typename qx_detail::MethodOwner<decltype(M)>::type* element, std::uint16_t index = 0) {
    using C = typename qx_detail::MethodOwner<decltype(M)>::type;
    return TQX_Event{[](void* receiver, TData& value, std::uint16_t i) { (static_cast<C*>(receiver)->*M)(value, i); },
                     element, index};
}

// The same, naming the method by its plain name: QX_LINK(counter, doNext, 0).
#define QX_LINK(element, method, index) \
    (::Bind<&std::remove_cvref_t<decltype(*(element))>::method>(&*(element), (index)))

// The dispatch slots: no-ops until StartFramework and again after StopFramework.
using TEventDispatch = void (*)(const TQX_Event& event, TData& value);
using TReadDispatch = void (*)(const TQX_Event& point, TData& value);
extern TEventDispatch EventDispatch;
extern TReadDispatch ReadDispatch;
extern bool Started;

// Firing; every element fires only through these.
void FireEvent(const TQX_Event& event, TData& value);
void FireNull(const TQX_Event& event);
void FireCopy(const TQX_Event& event, const TData& value);
void FireInteger(const TQX_Event& event, std::int32_t n);
void FireText(const TQX_Event& event, const TText& s);

// Forwarding: the last act of an event-in method instead of firing itself.
// Inline: forwarding is the hot path of every chain.
inline void ForwardInteger(TData& value, const TQX_Event& event, std::int32_t n) {
    value.Kind = dtInteger | ForwardFlag;
    value.IntValue = n;
    value.NextEvent = &event;
    value.NextValue = nullptr;
}
void ForwardText(TData& value, const TQX_Event& event, const TText& s);
void ForwardReal(TData& value, const TQX_Event& event, double r);
void ForwardValue(TData& value, const TQX_Event& event, const TData& source);
inline void ForwardSame(TData& value, const TQX_Event& event) {
    value.Kind = static_cast<std::uint8_t>(value.Kind | ForwardFlag);
    value.NextEvent = &event;
}

// Data reads.
void ReadPoint(const TQX_Event& point, TData& value);
TData FetchValue(TData& incoming, const TQX_Event& point, const TData* defaultValue);
std::int32_t FetchInteger(TData& incoming, const TQX_Event& point, std::int32_t defaultValue);
TText FetchText(TData& incoming, const TQX_Event& point, const TText& defaultValue);
std::int32_t PointInteger(const TQX_Event& point);
void* PointArray(const TQX_Event& point);
void* PointMatrix(const TQX_Event& point);
void ReadOrBreak(TData& value, const TQX_Event& point);

// Start-up.
using TStartupProc = void (*)(void* object);
void RegisterStartup(TStartupProc procedure, void* object);
// Takes back a registration that has not run yet (its object is going).
void UnregisterStartup(TStartupProc procedure, void* object);
void RunStartup();
void StartFramework();
void StopFramework();
