#include "winlib/msgbox.h"

namespace {
void* owner = nullptr;
}  // namespace

void* MessageOwner() { return owner; }
void SetMessageOwner(void* window) { owner = window; }
