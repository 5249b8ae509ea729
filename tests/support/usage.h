#pragma once
// This process's heap in use and open descriptors, for tests that check a
// long run leaves both flat. -1 where the platform cannot tell.

#if defined(__GLIBC__)
#include <malloc.h>

#include <filesystem>
#endif

struct TUsage {
    long HeapBytes = -1;
    long Descriptors = -1;
};

inline TUsage Usage() {
    TUsage usage;
#if defined(__GLIBC__)
    usage.HeapBytes = static_cast<long>(mallinfo2().uordblks);
    usage.Descriptors = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++usage.Descriptors;
#endif
    return usage;
}
