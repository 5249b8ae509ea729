#pragma once
// Method records: a function and the object it runs on. The window layer
// keeps its handler slots as these; an empty record means "not set".

#include <type_traits>

template <class Signature>
struct TMethod;

template <class R, class... Args>
struct TMethod<R(Args...)> {
    R (*Code)(void* object, Args...) = nullptr;
    void* Object = nullptr;

    explicit operator bool() const { return Code != nullptr; }
    R operator()(Args... args) const { return Code(Object, args...); }
    friend bool operator==(const TMethod& a, const TMethod& b) { return a.Code == b.Code && a.Object == b.Object; }
};

namespace method_detail {
template <class>
struct MemberOf;
template <class C, class R, class... Args>
struct MemberOf<R (C::*)(Args...)> {
    using Class = C;
    using Record = TMethod<R(Args...)>;
    template <auto M>
    static Record Make(C* object) {
        return Record{[](void* o, Args... args) -> R { return (static_cast<C*>(o)->*M)(args...); }, object};
    }
};
}  // namespace method_detail

// The record of a member function on an object; virtual functions dispatch
// as usual: control->clickHandler = MethodOf<&TQXButton::clicked>(this);
template <auto M>
auto MethodOf(typename method_detail::MemberOf<decltype(M)>::Class* object) {
    return method_detail::MemberOf<decltype(M)>::template Make<M>(object);
}
