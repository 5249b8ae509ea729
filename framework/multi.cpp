#include "framework/multi.h"

TScheme::~TScheme() {
    // Reverse creation order: later elements may refer to earlier ones.
    while (!elements_.empty()) elements_.pop_back();
}

TClassMultiBase::TClassMultiBase(TQXMultiElement*, TControl*, TScheme*) {}

TQXMultiElement::TQXMultiElement(TControl* parentControl) : ParentControl(parentControl) {}

TQXMultiElement::~TQXMultiElement() = default;

void TQXMultiElement::SetCreateProc(TCreateProc routine) {
    CreateProc = routine;
    if (!CreateOnDemand) EnsureCreated();
}

void TQXMultiElement::EnsureCreated() {
    if (Boundary != nullptr || CreateProc == nullptr) return;
    const bool wasStarted = Started;
    Started = false;
    Boundary = CreateProc(this, ParentControl, OwnerScheme);
    if (Boundary != nullptr) scheme_.reset(Boundary->Scheme);
    // A sub-scheme made after start-up runs its own start-up procedures now;
    // during the initial construction they wait for StartFramework.
    if (wasStarted) RunStartup();
}

void TQXMultiElement::doEvent(TData& value, std::uint16_t index) {
    EnsureCreated();
    if (Boundary == nullptr || index >= Boundary->Inputs.size()) return;
    FireEvent(Boundary->Inputs[index], value);
}

void TQXEditMulti::doEvent(TData& value, std::uint16_t index) {
    if (Container == nullptr || index >= Container->onEvent.size()) return;
    FireEvent(Container->onEvent[index], value);
}

void TQXEditMulti::readData(TData& value, std::uint16_t index) {
    if (Container == nullptr || index >= Container->Data.size()) {
        value.Kind = dtBreak;
        return;
    }
    ReadOrBreak(value, Container->Data[index]);
}
