#pragma once
// The object base of the window layer and its lists.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Reference-counted base. The count holds twice the number of references;
// its low bit means "destruction requested". Free on an unreferenced object
// destroys it at once; on a referenced one it only requests destruction,
// which then happens when the last reference is dropped.
class TObj {
public:
    struct TDestroyHandler {
        void (*Code)(void* object, TObj* sender) = nullptr;
        void* Object = nullptr;
    };

    TObj() = default;
    TObj(const TObj&) = delete;
    TObj& operator=(const TObj&) = delete;

    void RefInc() { RefCount += 2; }
    void RefDec();
    void Free();
    // True from the moment destruction begins.
    bool Destroying() const { return RefCount >= DyingCount; }
    // True once Free was called, even while references still keep it.
    bool Freed() const { return Destroying() || (RefCount & 1) != 0; }

    std::int32_t RefCount = 0;
    // Told once, after BeforeDestroy and before any destructor runs.
    TDestroyHandler OnDestroy;
    std::uintptr_t UserData = 0;

protected:
    virtual ~TObj();  // only through Free/RefDec
    // Runs once on the whole object just before it is deleted. References
    // taken and dropped meanwhile (a window procedure running during the
    // teardown) cannot destroy it a second time.
    virtual void BeforeDestroy() {}

private:
    // Far above any real count, even, so RefInc/RefDec/Free cannot reach zero.
    static constexpr std::int32_t DyingCount = 0x40000000;
    void Destroy();
};

// Owning handle: frees the object when it goes.
struct TObjFree {
    void operator()(TObj* object) const {
        if (object) object->Free();
    }
};
template <class T>
using TObjPtr = std::unique_ptr<T, TObjFree>;

template <class T, class... Args>
TObjPtr<T> NewObj(Args&&... args) {
    return TObjPtr<T>(new T(std::forward<Args>(args)...));
}

// A counted reference for one scope: the object stays whole while it is
// held, and a Free meanwhile takes effect when the last holder lets go.
// Held across every call out to code that might free the object.
template <class T>
class TObjHold {
public:
    explicit TObjHold(T* object) : object_(object) {
        if (object_) object_->RefInc();
    }
    TObjHold(TObjHold&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    TObjHold(const TObjHold&) = delete;
    TObjHold& operator=(const TObjHold&) = delete;
    TObjHold& operator=(TObjHold&&) = delete;
    ~TObjHold() {
        if (object_) object_->RefDec();
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }

private:
    T* object_;
};

// Growable array of pointer-sized values.
class TList : public TObj {
public:
    std::int32_t Count() const { return count_; }
    std::int32_t Capacity() const { return capacity_; }
    std::int32_t GrowthStep = 4;

    void Add(std::uintptr_t value);
    void Insert(std::int32_t index, std::uintptr_t value);
    std::uintptr_t Get(std::int32_t index) const;
    std::int32_t IndexOf(std::uintptr_t value) const;
    void Delete(std::int32_t index) { DeleteRange(index, 1); }
    void DeleteRange(std::int32_t index, std::int32_t length);
    void Clear();

private:
    std::unique_ptr<std::uintptr_t[]> items_;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};

// List of strings.
class TStrList : public TObj {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(strings_.size()); }
    void Add(std::string_view s) { Insert(Count(), s); }
    void Insert(std::int32_t index, std::string_view s);
    const std::string& Get(std::int32_t index) const;
    virtual void Delete(std::int32_t index);
    void Clear();

private:
    std::vector<std::string> strings_;
};

// String list with one pointer-sized object per string.
class TStrListEx : public TStrList {
public:
    void AddObject(std::string_view s, std::uintptr_t object);
    void Delete(std::int32_t index) override;
    std::uintptr_t Object(std::int32_t index) const { return objects_.Get(index); }
    std::int32_t IndexOfObject(std::uintptr_t object) const { return objects_.IndexOf(object); }

private:
    TList objects_;  // parallel to the strings, same index
};
