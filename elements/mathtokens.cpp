#include "elements/mathtokens.h"

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(unsigned char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a') return c - 'a' + 10;
    return c - 'A' + 10;
}
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0xC0; }

}  // namespace

void TMathTokenizer::Next() {
    while (IsBlank(At(pos_))) ++pos_;
    tok_.clear();
    const unsigned char c = At(pos_);
    if (c == MathEndByte) {
        kind_ = tkEnd;
        return;
    }
    if (c == '$' || c == '.' || IsDigit(c)) {
        Number();
        return;
    }
    switch (c) {
        case '%': case '(': case ')': case ',': case '[': case ']': case '=':
            tok_ = static_cast<char>(c);
            kind_ = tkPunct;
            ++pos_;
            return;
        case '<': case '>':
            tok_ = static_cast<char>(c);
            kind_ = tkPunct;
            ++pos_;
            if (At(pos_) == '=') {
                tok_ += '=';
                ++pos_;
            }
            return;
        case '*': case '+': case '-': case '/': case '^': {
            ++pos_;
            std::int32_t p = pos_;
            while (IsBlank(At(p))) ++p;
            if (At(p) == '+' || At(p) == '-') {
                kind_ = tkInvalid;  // an operator directly followed by a sign
                return;
            }
            tok_ = static_cast<char>(c);
            kind_ = tkOperator;
            return;
        }
        default: break;
    }
    if (IsLetter(c)) {
        unsigned char w = c;
        do {
            tok_ += (w >= 'A' && w <= 'Z') ? static_cast<char>(w + ('a' - 'A')) : static_cast<char>(w);
            w = At(++pos_);
        } while (IsLetter(w) || IsDigit(w));
        kind_ = tkWord;
        return;
    }
    kind_ = tkInvalid;  // nothing consumed
}

void TMathTokenizer::Number() {
    const unsigned char c = At(pos_);
    if (c == '$' || (c == '0' && At(pos_ + 1) == 'x')) {
        pos_ += c == '$' ? 1 : 2;
        std::uint32_t word = 0;
        for (unsigned char d = At(pos_); IsHexDigit(d); d = At(++pos_)) {
            tok_ += static_cast<char>(d);
            word = (word << 4) | static_cast<std::uint32_t>(HexValue(d));
        }
        hex_ = static_cast<std::int32_t>(word);
        kind_ = tok_.empty() ? tkInvalid : tkHex;
        return;
    }
    for (unsigned char d = At(pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
    kind_ = tkInteger;
    if (At(pos_) == '.') {
        tok_ += '.';
        for (unsigned char d = At(++pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
        if (tok_.size() == 1) {
            kind_ = tkInvalid;
            return;
        }
        kind_ = tkReal;
    }
    std::int32_t p = pos_;
    while (IsBlank(At(p))) ++p;
    if (At(p) != 'E' && At(p) != 'e') return;
    tok_ += static_cast<char>(At(p));
    pos_ = p + 1;
    while (IsBlank(At(pos_))) ++pos_;
    if (At(pos_) == '+' || At(pos_) == '-') {
        tok_ += static_cast<char>(At(pos_));
        ++pos_;
        while (IsBlank(At(pos_))) ++pos_;
    }
    if (!IsDigit(At(pos_))) {
        kind_ = tkInvalid;
        return;
    }
    for (unsigned char d = At(pos_); IsDigit(d); d = At(++pos_)) tok_ += static_cast<char>(d);
    kind_ = tkReal;
}
