#include "elements/strings.h"

#include <algorithm>
#include <limits>

#include "winlib/ansi.h"

namespace {

constexpr std::int32_t MaxPoints = 65536;  // see TQXFormatStr::SetCount

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The smallest n >= from with "%n" (n written without leading zeros) in
// work followed by a non-digit, or 0 when there is none. Only such tokens
// can still change the text.
std::int64_t NextPlaceholder(std::string_view work, std::int64_t from) {
    std::int64_t best = 0;
    for (std::size_t p = 0; p < work.size(); ++p) {
        if (work[p] != '%') continue;
        std::size_t q = p + 1;
        while (q < work.size() && IsDigit(static_cast<unsigned char>(work[q]))) ++q;
        const std::size_t digits = q - p - 1;
        if (digits == 0 || digits > 10 || work[p + 1] == '0') continue;
        std::int64_t n = 0;
        for (std::size_t k = p + 1; k < q; ++k) n = n * 10 + (work[k] - '0');
        if (n >= from && (best == 0 || n < best)) best = n;
    }
    return best;
}

}  // namespace

void ReplaceAll(std::string& text, std::string_view pattern, std::string_view replacement, const TReplaceTest& accept) {
    if (pattern.empty()) return;
    std::size_t k = text.find(pattern);
    if (k == std::string::npos) return;
    // Built aside rather than in place: the same result without moving the
    // tail once per occurrence. Everything from k on is still the original.
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;  // text[0..copied) is in out already
    while (k != std::string::npos) {
        if (!accept || accept(std::string_view(text).substr(k))) {
            out.append(text, copied, k - copied);
            out.append(replacement);
            copied = k + pattern.size();
            k = text.find(pattern, copied);
        } else {
            k = text.find(pattern, k + 1);
        }
    }
    out.append(text, copied, std::string::npos);
    text = std::move(out);
}

// The plain definition backtracks over every '*' recursively, which costs
// exponential time and one stack frame per '*'. This computes the same
// result from two facts about it (positions 1-based, T = length of t):
//  - a '*' met at a position x <= T tries the positions x..T, so "the rest
//    after this '*' matches from some position >= x" can only turn from
//    true to false as x grows: each '*' has a threshold below which it
//    succeeds;
//  - past the end of t everything reads as the byte 0 and a '*' tries only
//    where it stands, so from every position > T the outcome is the same:
//    one flag per '*'.
// Both are computed from the last '*' back to the first; a threshold scans
// the positions from T down to the lowest one its '*' can be reached at,
// stopping at the first match.
bool MaskMatch(std::string_view t, std::string_view m, std::size_t i, std::size_t j) {
    const std::size_t T = t.size();
    const std::size_t M = m.size();
    i = std::clamp<std::size_t>(i, 1, T + 1);
    j = std::clamp<std::size_t>(j, 1, M + 1);

    // The text reads as zero bytes from zeroFrom on.
    std::size_t zeroFrom = T + 1;
    while (zeroFrom > 1 && t[zeroFrom - 2] == '\0') --zeroFrom;

    auto textAt = [&](std::size_t p) -> unsigned char { return p <= T ? static_cast<unsigned char>(t[p - 1]) : 0; };

    enum class Step { Fail, Star, Match };
    // Walks plain mask characters from (x, y) until a '*', a mismatch, or the
    // end of both texts; x and y are left at the '*'.
    auto walk = [&](std::size_t& x, std::size_t& y) -> Step {
        for (;; ++x, ++y) {
            if (y > M) return x >= zeroFrom ? Step::Match : Step::Fail;
            const unsigned char c = static_cast<unsigned char>(m[y - 1]);
            if (c == '*') return Step::Star;
            const unsigned char s = textAt(x);
            const bool ok = c == '#' ? IsDigit(s) : c == '?' ? s != 0 : c == s;
            if (!ok) return Step::Fail;
        }
    };

    std::size_t x = i;
    std::size_t y = j;
    const Step first = walk(x, y);
    if (first != Step::Star) return first == Step::Match;

    std::vector<std::size_t> stars;  // mask positions of the '*' from y on
    for (std::size_t p = y; p <= M; ++p)
        if (m[p - 1] == '*') stars.push_back(p);
    const std::size_t n = stars.size();

    // '*' s succeeds from x <= T exactly when x < threshold[s] (0: never),
    // and from any x > T exactly when past[s]. Entry n is never read: the
    // last '*' is followed by no other.
    std::vector<std::size_t> threshold(n + 1, 0);
    std::vector<char> past(n + 1, 0);
    auto starFrom = [&](std::size_t at, std::size_t s) { return at <= T ? at < threshold[s] : past[s] != 0; };
    // Tries the rest after '*' s from text position k.
    auto restFrom = [&](std::size_t k, std::size_t s) {
        std::size_t a = k;
        std::size_t b = stars[s] + 1;
        const Step r = walk(a, b);
        return r == Step::Match || (r == Step::Star && starFrom(a, s + 1));
    };

    // Lowest position each '*' can be reached at: the plain characters
    // between two '*' always advance the text by their number.
    std::vector<std::size_t> low(n);
    low[0] = x;
    for (std::size_t s = 1; s < n; ++s) low[s] = low[s - 1] + (stars[s] - stars[s - 1] - 1);

    for (std::size_t s = n; s-- > 0;) {
        past[s] = restFrom(T + 1, s) ? 1 : 0;
        for (std::size_t k = T; k >= low[s] && k >= 1; --k) {
            if (restFrom(k, s)) {
                threshold[s] = k + 1;
                break;
            }
        }
    }
    return starFrom(x, 0);
}

// --- TQXFormatStr ---

void TQXFormatStr::SetCount(std::int32_t n) {
    Str.resize(static_cast<std::size_t>(std::clamp(n, 0, MaxPoints)));
    Count = n;
}

void TQXFormatStr::doFormat(TData& value, std::uint16_t) {
    static constexpr std::string_view percentMark("\0", 1);  // stands for "%%" meanwhile
    static constexpr std::string_view valueMark("\x01", 1);  // before each inserted value
    std::string work(Mask.view());
    ReplaceAll(work, "%%", percentMark);
    const TText none;
    for (std::int64_t i = 1; i <= Count; ++i) {
        const std::size_t slot = static_cast<std::size_t>(i - 1);
        if (slot >= Str.size() && IsNull(value)) {
            // Nothing left to read: only placeholders present in the text
            // matter, so skip to the next one (Count may be huge).
            i = NextPlaceholder(work, i);
            if (i == 0 || i > Count) break;
        }
        const TQX_Event point = slot < Str.size() ? Str[slot] : TQX_Event{};
        std::string token(1, '%');  // built by appending: GCC 12 warns wrongly on "%" + text
        token += IntToText(static_cast<std::int32_t>(i)).view();
        const TText s = FetchText(value, point, none);
        std::string replacement(valueMark);
        replacement.append(s.view());
        // "%1" must not eat the start of "%12".
        const std::size_t n = token.size();
        ReplaceAll(work, token, replacement,
                   [n](std::string_view from) { return from.size() <= n || !IsDigit(static_cast<unsigned char>(from[n])); });
    }
    ReplaceAll(work, valueMark, "");
    ReplaceAll(work, percentMark, "%");
    ForwardText(value, onFormat, TText(work));
}

// --- TQXStrMask ---

bool TQXStrMask::Matches(std::string_view text) const {
    // The added zero bytes make the mask account for the whole text.
    std::string t(text);
    t.push_back('\0');
    std::string m(Mask.view());
    m.push_back('\0');
    if (IgnoreCase == 1) {
        AnsiLower(t);
        AnsiLower(m);
    }
    return MaskMatch(t, m);
}

void TQXStrMask::doCompare(TData& value, std::uint16_t) {
    const TText s = FetchText(value, Text, TText());
    ForwardText(value, Matches(s.view()) ? onTrue : onFalse, s);
}
