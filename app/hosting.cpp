#include "app/hosting.h"

#include "app/request.h"
#include "app/switching.h"
#include "winlib/cp1251.h"

TText WrongPortText() { return "COM-порт указан неверно. Нажмите \"Сброс\" и введите другой порт."_cp1251; }

namespace {

void Prepare(TQXMultiElement* container, TScheme* owner, std::size_t outputs, std::size_t data) {
    container->OwnerScheme = owner;
    container->onEvent.resize(outputs);
    container->Data.resize(data);
    container->CreateOnDemand = false;
}

}  // namespace

void PrepareSwitching(TQXMultiElement* switcher, TScheme* owner) { Prepare(switcher, owner, swOutputCount, swDataCount); }

void PrepareRequests(TQXMultiElement* requests, TScheme* owner) { Prepare(requests, owner, rqOutputCount, rqDataCount); }

void LinkSwitching(TQXMultiElement* switcher, const TSwitchingLinks& links) {
    switcher->onEvent[swSwitchedOn] = links.SwitchedOn;
    switcher->onEvent[swSwitchedOff] = links.SwitchedOff;
    switcher->onEvent[swPortError] = links.PortError;
    switcher->onEvent[swPulseExpired] = links.PulseExpired;
    switcher->Data[swPortNumber] = links.PortNumber;
    switcher->Data[swPulseLength] = links.PulseLength;
}

void CreateSwitchingAndRequests(TQXMultiElement* switcher, TQXMultiElement* requests) {
    switcher->SetCreateProc(CreateSubScheme<TClassMultiElement_16D8160>);
    requests->SetCreateProc(CreateSubScheme<TClassMultiElement_16D94A0>);
}

void AnswerRequestsIn(TQXMultiElement* requests, TText section) {
    if (requests->Boundary == nullptr) return;
    static_cast<TClassMultiElement_16D94A0*>(requests->Boundary->Scheme)->RequestFile->Section = std::move(section);
}
