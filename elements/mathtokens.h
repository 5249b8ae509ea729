#pragma once
// The expression evaluator's tokenizer (elements/mathparse.h): numbers
// (decimal, with a fraction and an exponent, and hexadecimal after '$' or
// "0x"), words (lower-cased), punctuation and the operators, straight over
// the text, one token at a time.

#include <cstdint>
#include <string>
#include <string_view>

#include "elements/mathparse.h"
#include "framework/data.h"

// The byte that ends every stored expression.
inline constexpr char MathEndByte = '\x01';

class TMathTokenizer {
public:
    // `text` stays alive while the tokens are read.
    explicit TMathTokenizer(const TText& text) : text_(text.data()), size_(text.size()) {}

    // Reads the next token into kind_ and tok_ (and hex_ for tkHex).
    void Next();
    bool Is(std::uint8_t kind, std::string_view text) const { return kind_ == kind && tok_ == text; }

protected:
    std::int32_t pos_ = 1;  // 1-based index of the next byte to examine
    std::uint8_t kind_ = tkInvalid;
    std::string tok_;
    std::int32_t hex_ = 0;

private:
    // Past the stored text the expression has ended, with or without its end byte.
    unsigned char At(std::int32_t p) const {
        if (p < 1 || static_cast<std::size_t>(p) > size_) return MathEndByte;
        return static_cast<unsigned char>(text_[p - 1]);
    }
    void Number();

    const char* text_;
    std::size_t size_;
};
