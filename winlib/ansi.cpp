#include "winlib/ansi.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(c);
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c + 0x20);
    for (int c = 0xC0; c <= 0xDF; ++c) t[c] = static_cast<unsigned char>(c + 0x20);  // А..Я
    // The capitals outside the main block, with their small letters.
    constexpr unsigned char pairs[][2] = {
        {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
        {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
        {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
    };
    for (const auto& p : pairs) t[p[0]] = p[1];
    return t;
}

constexpr std::array<unsigned char, 256> LowerTable = MakeLowerTable();

class TTableAnsiCase final : public TAnsiCase {
public:
    void Lower(char* text, std::size_t length) override {
        if (text == nullptr) return;
        for (std::size_t i = 0; i < length && text[i] != '\0'; ++i)
            text[i] = static_cast<char>(LowerTable[static_cast<unsigned char>(text[i])]);
    }
};

}  // namespace

TAnsiCase& TableAnsiCase() {
    static TTableAnsiCase table;
    return table;
}

void AnsiLower(char* text, std::size_t length) { CurrentAnsiCase().Lower(text, length); }

void AnsiLower(std::string& text) { AnsiLower(text.data(), text.size()); }
