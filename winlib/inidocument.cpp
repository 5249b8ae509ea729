#include "winlib/inidocument.h"

#include <algorithm>

namespace {

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsIniBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsIniBlank(s.front())) s.remove_prefix(1);
    return s;
}

// Names and values are zero-terminated strings to the system: a zero
// character read from a file ends them there. Trimmed again after the cut,
// so that what we write back reads back the same.
std::u16string UpToZero(std::u16string_view s) { return std::u16string(Trim(s.substr(0, s.find(char16_t(0))))); }

char16_t FoldAscii(char16_t c) { return (c >= 'a' && c <= 'z') ? char16_t(c - 'a' + 'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

void ParseLine(TIniDocument& doc, std::u16string_view raw) {
    const std::u16string_view line = Trim(raw);
    if (line.empty()) return;
    if (line.front() == '[') {
        const std::size_t close = line.rfind(']');
        if (close != std::u16string_view::npos) {
            doc.Sections.push_back(TIniSection{UpToZero(Trim(line.substr(1, close - 1))), {}});
            return;
        }
    }
    TIniEntry entry;
    const std::size_t eq = line.find('=');
    if (eq == std::u16string_view::npos) {
        entry.Name = UpToZero(line);
        // Nothing we could write back: such a line would vanish on the next
        // write and let a later "=value" line answer for the name "".
        if (entry.Name.empty()) return;
    } else {
        entry.Name = UpToZero(Trim(line.substr(0, eq)));
        entry.Value = UpToZero(Trim(line.substr(eq + 1)));
        entry.HasValue = true;
    }
    doc.Sections.back().Entries.push_back(std::move(entry));
}

// The first of that name; const or not as the list is.
template <class TItems>
auto* FirstNamed(TItems& items, std::u16string_view name) {
    for (auto& item : items)
        if (SameName(item.Name, name)) return &item;
    return static_cast<decltype(&items[0])>(nullptr);
}

}  // namespace

TIniDocument TIniDocument::Parse(std::string_view bytes, const TCodePage& codePage) {
    TIniDocument doc;
    std::u16string text;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        doc.Encoding = TIniEncoding::Utf8;
        text = DecodeUtf8(bytes.substr(3));
    } else if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        doc.Encoding = little ? TIniEncoding::Utf16Le : TIniEncoding::Utf16Be;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {  // an odd last byte is no character
            const auto b0 = static_cast<unsigned char>(bytes[i]), b1 = static_cast<unsigned char>(bytes[i + 1]);
            text.push_back(little ? char16_t(b0 | (b1 << 8)) : char16_t((b0 << 8) | b1));
        }
    } else {
        text = codePage.ToUnicode(bytes);
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            ParseLine(doc, std::u16string_view(text).substr(start, i - start));
            start = i + 1;
        }
    }
    return doc;
}

std::string TIniDocument::Serialize(const TCodePage& codePage) const {
    const TIniDocument& doc = *this;
    std::u16string text;
    // The section the lines written so far belong to.
    std::u16string_view open;
    for (std::size_t i = 0; i < doc.Sections.size(); ++i) {
        const TIniSection& section = doc.Sections[i];
        // A section named "" gets no "[]" while the lines before it belong
        // to "" anyway, as the system does. After a named section it keeps
        // its "[]": the system drops it there too, which moves its keys
        // into that other section; we do not.
        if (i > 0 && !(section.Name.empty() && open.empty())) {
            text += u"[" + section.Name + u"]\r\n";
            open = section.Name;
        }
        for (const TIniEntry& entry : section.Entries) {
            text += entry.Name;
            if (entry.HasValue) text += u"=" + entry.Value;
            text += u"\r\n";
        }
    }
    std::string bytes;
    switch (doc.Encoding) {
        case TIniEncoding::Ansi:
            bytes = codePage.ToAnsi(text);
            // ANSI text that starts like a byte-order mark ("\xFF\xFE" is
            // "яю" in 1251) would be read back as another encoding; an empty
            // first line, which readers skip, keeps it ANSI.
            if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xEF\xBB\xBF"))
                bytes.insert(0, "\r\n");
            break;
        case TIniEncoding::Utf8:
            bytes = "\xEF\xBB\xBF";
            EncodeUtf8(bytes, text);
            break;
        case TIniEncoding::Utf16Le:
        case TIniEncoding::Utf16Be: {
            const bool little = doc.Encoding == TIniEncoding::Utf16Le;
            bytes.reserve(2 + 2 * text.size());
            bytes += little ? "\xFF\xFE" : "\xFE\xFF";
            for (char16_t u : text) {
                const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
                bytes.push_back(little ? lo : hi);
                bytes.push_back(little ? hi : lo);
            }
            break;
        }
    }
    return bytes;
}

const TIniEntry* TIniDocument::Find(std::u16string_view section, std::u16string_view key) const {
    const TIniSection* found = FirstNamed(Sections, Trim(section));  // the first section of the name answers
    return found ? FirstNamed(found->Entries, Trim(key)) : nullptr;
}

bool TIniDocument::Set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    const std::u16string newValue(TrimLeft(value));
    TIniSection* target = FirstNamed(Sections, Trim(section));
    if (!target) {
        Sections.push_back(TIniSection{std::u16string(TrimLeft(section)), {}});
        target = &Sections.back();
    }
    if (TIniEntry* entry = FirstNamed(target->Entries, Trim(key))) {
        if (entry->HasValue && entry->Value == newValue) return false;
        entry->Value = newValue;
        entry->HasValue = true;
    } else {
        target->Entries.push_back(TIniEntry{std::u16string(TrimLeft(key)), newValue, true});
    }
    return true;
}

bool TIniDocument::Delete(std::u16string_view section, std::u16string_view key) {
    // Unlike a read, a delete looks on through later sections of the same
    // name: the first such key anywhere goes.
    for (TIniSection& candidate : Sections) {
        if (!SameName(candidate.Name, Trim(section))) continue;
        if (TIniEntry* entry = FirstNamed(candidate.Entries, Trim(key))) {
            candidate.Entries.erase(candidate.Entries.begin() + (entry - candidate.Entries.data()));
            return true;
        }
    }
    return false;
}
