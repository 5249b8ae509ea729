#pragma once
// A library the daemon loads only when a door needs it, so a daemon
// without that door maps neither it nor the TLS libraries it brings.

#include <dlfcn.h>

#include <string>
#include <type_traits>

class TSharedLibrary {
public:
    // Kept for the process's life once loaded.
    TSharedLibrary(const char* soname, const std::string& package) {
        handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) Failure = "needs " + package + ": " + dlerror();
    }
    // Sets `function` to the library's `name`; a missing one is the failure.
    template <typename F>
    void Load(F& function, const char* name) {
        function = handle_ != nullptr ? reinterpret_cast<std::remove_reference_t<F>>(dlsym(handle_, name)) : nullptr;
        if (function == nullptr && Failure.empty()) Failure = std::string("the library lacks ") + name;
    }
    bool Loaded() const { return Failure.empty(); }
    std::string Failure;

private:
    void* handle_ = nullptr;
};

// The table `Api` filled by `fill` from `soname`, loaded on the first call
// and kept; on failure null, with why (prefixed by `door`) in `error`.
template <typename Api, typename Fill>
const Api* LoadOnce(const char* soname, const char* package, const char* door, Fill fill, std::string& error) {
    static Api api;
    static std::string failure;
    static const bool loaded = [&] {
        TSharedLibrary library(soname, package);
        fill(library, api);
        failure = std::string(door) + " " + library.Failure;
        return library.Loaded();
    }();
    if (!loaded) error = failure;
    return loaded ? &api : nullptr;
}
