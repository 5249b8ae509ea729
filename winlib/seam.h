#pragma once
// A platform service that tests stand in for: the platform's own by
// default, an override while one is installed. One template for every such
// service (serial device, timers, ANSI case, profile store, message box).

#include <utility>

template <class Service, Service& (*Platform)()>
class TSeam {
public:
    static Service& Current() { return override_ != nullptr ? *override_ : Platform(); }
    // Installs `service` (nullptr: the platform's own) and returns the
    // override that was in force (nullptr: none), for putting back.
    static Service* Set(Service* service) { return std::exchange(override_, service); }

private:
    static inline Service* override_ = nullptr;
};

// Installs an override for as long as it lives, then puts back the one
// that was in force before.
template <class Seam, class Service>
class TScopedOverride {
public:
    explicit TScopedOverride(Service* service) : previous_(Seam::Set(service)) {}
    ~TScopedOverride() { Seam::Set(previous_); }
    TScopedOverride(const TScopedOverride&) = delete;
    TScopedOverride& operator=(const TScopedOverride&) = delete;

private:
    Service* previous_;
};
