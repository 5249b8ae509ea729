#include "app/service/modemline.h"

void TModemLine::Sent(std::string_view schemes, const TSent& sent) {
    last_.Bytes.assign(schemes);
    last_.Written = sent.Written;
    last_.Answer = sent.Written ? sent.Answer : TAnswer::None;
    last_.Fault = sent.Fault;
    if (sent.Written && sent.Answer != TAnswer::Error) known_ = SchemeSwitch(schemes);
    if (!sent.Written || sent.Answer == TAnswer::Error) known_.reset();
}

void TModemLine::Answer(TAnswer answer, const std::string& fault) {
    if (last_.Answer != TAnswer::Pending) return;  // an answer nobody waits for
    last_.Answer = answer;
    last_.Fault = fault;
    if (answer == TAnswer::Error) known_.reset();
    if (Answered) Answered();
}

void TModemLine::AnswerTimedOut() {
    if (last_.Answer != TAnswer::Pending) return;
    const TSent sent = kind_.TimedOut(Channel);
    last_.Answer = sent.Answer == TAnswer::Error ? TAnswer::Error : TAnswer::None;
    last_.Fault = sent.Fault;
    if (last_.Answer == TAnswer::Error) known_.reset();
}
