#pragma once
// TText: the reference-counted byte string that every value carries.
// Copies share the characters; only building new text allocates.
// Single-threaded by design (everything runs on the GUI thread), so the
// count is a plain integer.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

class TText {
public:
    TText() noexcept = default;
    TText(std::string_view s);
    TText(const char* s) : TText(std::string_view(s)) {}
    TText(const std::string& s) : TText(std::string_view(s)) {}

    TText(const TText& other) noexcept : rep_(other.rep_) { Acquire(); }
    TText(TText&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
    TText& operator=(const TText& other) noexcept;
    TText& operator=(TText&& other) noexcept;
    ~TText() { Release(); }

    std::size_t size() const noexcept { return rep_ ? rep_->size : 0; }
    bool empty() const noexcept { return size() == 0; }
    // Always zero-terminated (the text itself may hold zero bytes too).
    const char* data() const noexcept { return rep_ ? rep_->Chars() : ""; }
    char operator[](std::size_t i) const noexcept { return data()[i]; }
    std::string_view view() const noexcept { return {data(), size()}; }
    std::string str() const { return std::string(view()); }

    // For tests and diagnostics: how many values share these characters.
    std::size_t UseCount() const noexcept { return rep_ ? rep_->refs : 0; }
    bool SharesWith(const TText& other) const noexcept { return rep_ == other.rep_; }

    friend bool operator==(const TText& a, const TText& b) noexcept {
        return a.rep_ == b.rep_ || a.view() == b.view();
    }
    friend bool operator==(const TText& a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(const TText& a, const char* b) noexcept { return a.view() == b; }
    friend bool operator==(const TText& a, const std::string& b) noexcept { return a.view() == b; }

    friend std::ostream& operator<<(std::ostream& out, const TText& s);

private:
    // Header of one heap block; the characters follow it directly.
    struct Rep {
        std::size_t refs;
        std::size_t size;
        char* Chars() noexcept { return reinterpret_cast<char*>(this + 1); }
    };
    void Acquire() noexcept {
        if (rep_) ++rep_->refs;
    }
    void Release() noexcept;

    Rep* rep_ = nullptr;
};
