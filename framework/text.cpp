#include "framework/text.h"

#include <cstring>
#include <new>

TText::TText(std::string_view s) {
    if (s.empty()) return;  // the empty text owns nothing
    void* block = ::operator new(sizeof(Rep) + s.size() + 1);
    rep_ = static_cast<Rep*>(block);
    rep_->refs = 1;
    rep_->size = s.size();
    std::memcpy(rep_->Chars(), s.data(), s.size());
    rep_->Chars()[s.size()] = '\0';
}

TText& TText::operator=(const TText& other) noexcept {
    if (rep_ != other.rep_) {
        Rep* old = rep_;
        rep_ = other.rep_;
        Acquire();
        if (old && --old->refs == 0) ::operator delete(old);
    }
    return *this;
}

TText& TText::operator=(TText&& other) noexcept {
    if (this != &other) {
        Release();
        rep_ = other.rep_;
        other.rep_ = nullptr;
    }
    return *this;
}

void TText::Release() noexcept {
    if (rep_ && --rep_->refs == 0) ::operator delete(rep_);
    rep_ = nullptr;
}
