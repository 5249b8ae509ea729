// The choice of profile store. Apart from the native store, so a Windows
// program that only uses the system's calls does not link our own reader.
#include "winlib/profile.h"

namespace {
TProfileStore* current = nullptr;  // nullptr: the platform's own
}

TProfileStore& CurrentProfileStore() { return current != nullptr ? *current : PlatformProfileStore(); }

TProfileStore* SetProfileStore(TProfileStore* store) {
    TProfileStore* previous = current;
    current = store;
    return previous;
}
