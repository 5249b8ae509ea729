#include "elements/ini.h"

#include <string>

// One operation's TIniFile: opened on the resolved name with the section
// read and the mode set, freed when the operation ends, however it ends.
// A data read that leads back into this element gets its own object; the
// outer one is put back afterwards.
class TQXini::TOperation {
public:
    TOperation(TQXini& element, TData& value, bool write) : element_(element), outer_(element.Ini) {
        const TText name = FetchText(value, element.FileNamePoint, element.FileName);
        file_ = NewObj<TIniFile>(ResolveFileName(name.view()));
        element.Ini = file_.get();
        const TText section = FetchText(value, element.SectionPoint, element.Section);
        file_->Section = section.str();
        file_->WriteMode = write;
    }
    ~TOperation() { element_.Ini = outer_; }
    TOperation(const TOperation&) = delete;
    TOperation& operator=(const TOperation&) = delete;

    TIniFile& File() { return *file_; }

private:
    TQXini& element_;
    TIniFile* outer_;
    TObjPtr<TIniFile> file_;
};

void TQXini::doRead(TData& value, std::uint16_t) {
    if (ValueType == 0) {
        std::int32_t n;
        {
            TOperation op(*this, value, false);
            const TText key = FetchText(value, KeyPoint, Key);
            n = op.File().AccessInteger(key.view(), 0);
        }
        ForwardInteger(value, onRead, n);
    } else {
        std::string s;
        {
            TOperation op(*this, value, false);
            const TText key = FetchText(value, KeyPoint, Key);
            s = op.File().AccessString(key.view(), std::string_view());
        }
        ForwardText(value, onRead, TText(s));
    }
}

void TQXini::doWrite(TData& value, std::uint16_t) {
    TOperation op(*this, value, true);
    // The value is read before the key: with both unlinked and without
    // defaults, the event's data is the value.
    if (ValueType == 0) {
        const std::int32_t n = FetchInteger(value, Value, 0);
        const TText key = FetchText(value, KeyPoint, Key);
        op.File().AccessInteger(key.view(), n);
    } else {
        const TText s = FetchText(value, Value, TText());
        const TText key = FetchText(value, KeyPoint, Key);
        op.File().AccessString(key.view(), s.view());
    }
}

void TQXini::doDeleteKey(TData& value, std::uint16_t) {
    TOperation op(*this, value, true);
    const TText key = FetchText(value, KeyPoint, Key);
    op.File().DeleteKey(key.view());
}
