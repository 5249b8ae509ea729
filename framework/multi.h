#pragma once
// Schemes and the containers that host a sub-scheme: TQXMultiElement on
// the outside, TQXEditMulti as the boundary inside.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "framework/events.h"

class TControl;  // a window-layer control; only passed through here

// A generated scheme: creates its elements, owns them and frees them in
// reverse creation order.
class TScheme {
public:
    TScheme() = default;
    TScheme(const TScheme&) = delete;
    TScheme& operator=(const TScheme&) = delete;
    virtual ~TScheme();

protected:
    template <class T, class... Args>
    T* Create(Args&&... args) {
        auto element = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = element.get();
        elements_.push_back(Owned(element.release(), [](void* p) { delete static_cast<T*>(p); }));
        return raw;
    }

private:
    using Owned = std::unique_ptr<void, void (*)(void*)>;
    std::vector<Owned> elements_;
};

class TQXMultiElement;
class TQXEditMulti;

// Base of the generated sub-scheme classes.
class TClassMultiBase : public TScheme {
public:
    TClassMultiBase(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);
    TQXEditMulti* Boundary = nullptr;
};

// (container, parent control, owner scheme) -> boundary of the new sub-scheme.
using TCreateProc = TQXEditMulti* (*)(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme);

class TQXMultiElement {
public:
    explicit TQXMultiElement(TControl* parentControl = nullptr);
    ~TQXMultiElement();
    TQXMultiElement(const TQXMultiElement&) = delete;
    TQXMultiElement& operator=(const TQXMultiElement&) = delete;

    TQXEditMulti* Boundary = nullptr;
    TCreateProc CreateProc = nullptr;
    TControl* ParentControl = nullptr;
    bool CreateOnDemand = false;
    std::vector<TQX_Event> onEvent;
    std::vector<TQX_Event> Data;
    TScheme* OwnerScheme = nullptr;

    void SetCreateProc(TCreateProc routine);
    void EnsureCreated();

    // Event in, index i: enters the sub-scheme on its input i.
    void doEvent(TData& value, std::uint16_t index);

private:
    std::unique_ptr<TScheme> scheme_;  // the hosted sub-scheme
};

class TQXEditMulti {
public:
    TQXMultiElement* Container = nullptr;
    TClassMultiBase* Scheme = nullptr;
    std::vector<TQX_Event> Inputs;
    std::vector<TQX_Event> Offered;

    // Event in, index i: leaves the container on its output i.
    void doEvent(TData& value, std::uint16_t index);
    // Data out, index i: reads the container's data-in point i (Break when unlinked).
    void readData(TData& value, std::uint16_t index);
};

// The creation routine of a sub-scheme class S, for SetCreateProc.
template <class S>
TQXEditMulti* CreateSubScheme(TQXMultiElement* container, TControl* parentControl, TScheme* ownerScheme) {
    auto scheme = std::make_unique<S>(container, parentControl, ownerScheme);
    TQXEditMulti* boundary = scheme->Boundary;
    boundary->Scheme = scheme.release();  // the container takes it over in EnsureCreated
    boundary->Container = container;
    return boundary;
}
