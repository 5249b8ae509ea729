#include "framework/events.h"

#include <utility>
#include <vector>

namespace {

void NoEvent(const TQX_Event&, TData&) {}
void NoRead(const TQX_Event&, TData&) {}

// The live dispatcher: a forwarding chain runs as this loop, not as nested calls.
void DispatchLoop(const TQX_Event& event, TData& value) {
    const TQX_Event* p = &event;
    while (p != nullptr && p->Method != nullptr) {
        p->Method(p->Receiver, value, p->Index);
        if ((value.Kind & ForwardFlag) == 0) break;
        value.Kind = static_cast<std::uint8_t>(value.Kind - ForwardFlag);
        p = value.NextEvent;  // a forward to nothing ends the chain
    }
}

void ReadLinked(const TQX_Event& point, TData& value) {
    if (point.Method != nullptr) point.Method(point.Receiver, value, point.Index);
}

struct StartupEntry {
    TStartupProc Procedure;
    void* Object;
};
std::vector<StartupEntry>& StartupList() {
    static std::vector<StartupEntry> list;
    return list;
}

// Takes up the incoming value after a read: it advances to the next value
// of its chain, or becomes NULL.
void Consume(TData& incoming) {
    if (incoming.Kind == dtNull) incoming.NextValue = nullptr;
    if (incoming.NextValue != nullptr) {
        TData next = *incoming.NextValue;  // copy first: it may share text with incoming
        incoming = std::move(next);
    } else {
        incoming.Kind = dtNull;
    }
}

}  // namespace

TEventDispatch EventDispatch = NoEvent;
TReadDispatch ReadDispatch = NoRead;
bool Started = false;

void FireEvent(const TQX_Event& event, TData& value) { EventDispatch(event, value); }

void FireNull(const TQX_Event& event) {
    TData value;
    EventDispatch(event, value);
}

void FireCopy(const TQX_Event& event, const TData& value) {
    TData copy = value;
    EventDispatch(event, copy);
}

void FireInteger(const TQX_Event& event, std::int32_t n) {
    TData value;
    SetInteger(value, n);
    EventDispatch(event, value);
}

void FireText(const TQX_Event& event, const TText& s) {
    TData value;
    SetText(value, s);
    EventDispatch(event, value);
}

void ForwardText(TData& value, const TQX_Event& event, const TText& s) {
    SetText(value, s);
    value.Kind = dtString | ForwardFlag;
    value.NextEvent = &event;
}

void ForwardReal(TData& value, const TQX_Event& event, double r) {
    SetReal(value, r);
    value.Kind = dtReal | ForwardFlag;
    value.NextEvent = &event;
}

void ForwardValue(TData& value, const TQX_Event& event, const TData& source) {
    if (&value != &source) value = source;
    value.Kind = static_cast<std::uint8_t>(value.Kind | ForwardFlag);
    value.NextEvent = &event;
}

void ReadPoint(const TQX_Event& point, TData& value) { ReadDispatch(point, value); }

TData FetchValue(TData& incoming, const TQX_Event& point, const TData* defaultValue) {
    if (point.Linked()) {
        TData result;
        ReadPoint(point, result);
        result.NextValue = nullptr;
        if (result.Kind != dtBreak) return result;
    }
    if (defaultValue != nullptr && defaultValue->Kind != dtNull) return *defaultValue;
    TData result = incoming;
    result.NextValue = nullptr;
    Consume(incoming);
    return result;
}

std::int32_t FetchInteger(TData& incoming, const TQX_Event& point, std::int32_t defaultValue) {
    if (point.Linked()) {
        TData result;
        ReadPoint(point, result);
        if (result.Kind != dtBreak) return AsInteger(result);
    }
    if (defaultValue != 0) return defaultValue;
    if (incoming.Kind != dtNull) {
        const std::int32_t n = AsInteger(incoming);
        Consume(incoming);
        return n;
    }
    return defaultValue;
}

TText FetchText(TData& incoming, const TQX_Event& point, const TText& defaultValue) {
    if (point.Linked()) {
        TData result;
        ReadPoint(point, result);
        if (result.Kind != dtBreak) return AsText(result);
    }
    if (!defaultValue.empty()) return defaultValue;
    if (incoming.Kind != dtNull) {
        TText s = AsText(incoming);
        Consume(incoming);
        return s;
    }
    return defaultValue;
}

std::int32_t PointInteger(const TQX_Event& point) {
    TData value;
    ReadPoint(point, value);
    return AsInteger(value);
}

namespace {
void* PointObject(const TQX_Event& point, std::uint8_t kind) {
    if (!point.Linked()) return nullptr;
    TData value;
    ReadPoint(point, value);
    return value.Kind == kind ? value.ObjectRef : nullptr;
}
}  // namespace

void* PointArray(const TQX_Event& point) { return PointObject(point, dtArray); }
void* PointMatrix(const TQX_Event& point) { return PointObject(point, dtMatrix); }

void ReadOrBreak(TData& value, const TQX_Event& point) {
    if (point.Linked())
        ReadPoint(point, value);
    else
        value.Kind = dtBreak;
}

void RegisterStartup(TStartupProc procedure, void* object) {
    if (procedure != nullptr) StartupList().push_back({procedure, object});
}

void UnregisterStartup(TStartupProc procedure, void* object) {
    auto& list = StartupList();
    // Blanked rather than erased: RunStartup may be walking the list.
    for (StartupEntry& entry : list)
        if (entry.Procedure == procedure && entry.Object == object) entry.Procedure = nullptr;
}

void RunStartup() {
    auto& list = StartupList();
    // By index: a procedure may register more, which then run in this pass too.
    for (std::size_t i = 0; i < list.size(); ++i) {
        const StartupEntry entry = list[i];
        if (entry.Procedure != nullptr) entry.Procedure(entry.Object);
    }
    list.clear();
    Started = true;
}

void StartFramework() {
    EventDispatch = DispatchLoop;
    ReadDispatch = ReadLinked;
    RunStartup();
}

void StopFramework() {
    EventDispatch = NoEvent;
    ReadDispatch = NoRead;
}
