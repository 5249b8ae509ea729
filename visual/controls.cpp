#include "visual/controls.h"

#include <string>
#include <utility>

// --- TQXButton ---

void TQXButton::initControl() {
    control = TControl::NewButton(Parent, Caption.view());
    control->clickHandler = MethodOf<&TQXButton::clicked>(this);
    control->SetDefaultButton(DefaultButton);
    control->SetStyle(control->Style() | BS_MULTILINE);
    TQXWin::initControl();
}

void TQXButton::clicked(TControl*) { FireCopy(onClick, Data); }

void TQXButton::doSetCaption(TData& value, std::uint16_t) { control->SetText(AsText(value).view()); }

// --- TQXEdit ---

TQXEdit::TQXEdit(TControl* parent) : TQXWin(parent) {}

void TQXEdit::initControl() {
    const std::uint32_t options = (Password ? std::uint32_t{eoPassword} : 0u) | (ReadOnly ? std::uint32_t{eoReadonly} : 0u);
    control = TControl::NewEdit(Parent, options);
    control->SetTextAlign(Alignment);
    TQXWin::initControl();
    control->changeHandler = MethodOf<&TQXEdit::changed>(this);
    ReplaceText(Text.view());
    InitialText = Text;
}

bool TQXEdit::ReadOwnText(TData& value) {
    SetText(value, TText(control->Text()));
    return true;
}

void TQXEdit::ReplaceText(std::string_view text) {
    // Reporting is off only around this one change: whether or not the
    // window sends a notification, the next keystroke is reported.
    ChangeReporting = false;
    control->SetText(text);
    ChangeReporting = true;
}

void TQXEdit::changed(TControl*) {
    TData value;
    if (ChangeReporting && ValueSource && ValueSource(value)) FireEvent(onTextChange, value);
    ChangeReporting = true;
}

void TQXEdit::doSetText(TData& value, std::uint16_t) {
    TextReplaced = false;
    const int caret = control->SelectionStart();
    const TText text = FetchText(value, NewText, TText());
    ReplaceText(text.view());
    control->SetSelection(caret, 0);
}

void TQXEdit::readText(TData& value, std::uint16_t) { SetText(value, TText(control->Text())); }

void TQXEdit::readValue(TData& value, std::uint16_t) {
    TData result;
    if (ValueSource && ValueSource(result))
        value = result;
    else
        SetNull(value);
}

void TQXEdit::keyDown(TControl* sender, int& key, std::uint32_t shift) {
    if (key != VK_RETURN || !onEnterKey.Linked()) {
        TQXWin::keyDown(sender, key, shift);
        return;
    }
    TData value;
    if (ValueSource && ValueSource(value)) {
        TextReplaced = true;
        FireEvent(onEnterKey, value);
        // No doSetText during the event: the entry is taken, the edit empties.
        if (std::exchange(TextReplaced, false)) ReplaceText("");
    }
    key = 0;  // the control never sees Enter
}

// --- TQXLabel ---

TQXLabel::TQXLabel(TControl* parent) : TQXWin(parent) {
    control = TControl::NewLabel(Parent, "");
    control->clickHandler = {[](void* self, TControl*) { FireNull(static_cast<TQXLabel*>(self)->onClick); }, this};
}

void TQXLabel::SetAutoSize(bool on) { control->SetAutoSize(on); }
void TQXLabel::SetTextAlign(std::uint8_t code) { control->SetTextAlign(code); }

void TQXLabel::initControl() {
    TQXWin::initControl();
    control->SetText(Caption.view());
}

void TQXLabel::doSetText(TData& value, std::uint16_t) { control->SetText(FetchText(value, Text, TText()).view()); }

void TQXLabel::mouseEnter(TControl* sender) {
    TQXWin::mouseEnter(sender);
    if (HoverColor != 0) control->Font()->SetColor(HoverColor);
    if (HoverUnderline) control->Font()->SetFontStyle(control->Font()->FontStyle() | fsUnderline);
}

void TQXLabel::mouseLeave(TControl* sender) {
    TQXWin::mouseLeave(sender);
    if (HoverColor != 0) control->Font()->SetColor(Font.Color);
    if (HoverUnderline) control->Font()->SetFontStyle(control->Font()->FontStyle() & ~fsUnderline);
}
