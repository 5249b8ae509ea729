#include <windows.h>

#include <algorithm>

#include "winlib/ansi.h"

namespace {

constexpr UINT CyrillicCodePage = 1251;

// Converts from 1251 explicitly instead of calling CharLowerA, which would
// read the bytes in the system's ANSI code page and leave Cyrillic alone on
// a machine set to another one.
class TWin32AnsiCase final : public TAnsiCase {
public:
    void Lower(char* text, std::size_t length) override {
        if (text == nullptr) return;
        std::size_t n = 0;
        while (n < length && text[n] != '\0') ++n;
        for (std::size_t start = 0; start < n; start += Chunk) LowerChunk(text + start, static_cast<int>(std::min(Chunk, n - start)));
    }

private:
    static constexpr std::size_t Chunk = 256;

    static void LowerChunk(char* text, int n) {
        WCHAR original[Chunk];
        WCHAR lowered[Chunk];
        // A single-byte code page: one wide character per byte.
        if (MultiByteToWideChar(CyrillicCodePage, 0, text, n, original, n) != n) return;
        std::copy(original, original + n, lowered);
        CharLowerBuffW(lowered, static_cast<DWORD>(n));
        for (int i = 0; i < n; ++i) {
            if (lowered[i] == original[i]) continue;
            // Only take a lowered letter that exists in 1251 as one byte.
            char b = 0;
            BOOL usedDefault = FALSE;
            if (WideCharToMultiByte(CyrillicCodePage, 0, &lowered[i], 1, &b, 1, nullptr, &usedDefault) == 1 && !usedDefault)
                text[i] = b;
        }
    }
};

}  // namespace

TAnsiCase& PlatformAnsiCase() {
    static TWin32AnsiCase platform;
    return platform;
}
