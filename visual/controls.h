#pragma once
// The simple control elements: a push button, a one-line edit and a label,
// each over one standard Windows control.

#include <cstdint>

#include "visual/win.h"

class TQXButton : public TQXWin {
public:
    using TQXWin::TQXWin;

    TQX_Event onClick;
    TData Data;  // sent with onClick
    TText Caption;
    bool DefaultButton = false;  // Enter anywhere in the form presses it

    // The caption becomes the text form of the value.
    void doSetCaption(TData& value, std::uint16_t index);
    void initControl() override;

private:
    void clicked(TControl* sender);
};

class TQXEdit : public TQXWin {
public:
    explicit TQXEdit(TControl* parent);

    TText InitialText;
    std::uint32_t Reserved = 0;
    bool ChangeReporting = false;  // false: the next change notification is not reported
    bool TextReplaced = false;     // set while onEnterKey runs; doSetText clears it
    TMethod<bool(TData& value)> ValueSource;  // what onEnterKey and onTextChange carry
    bool Password = false;
    TText Text;
    bool ReadOnly = false;
    std::uint8_t Alignment = 0;  // 0 left, 1 right, 2 centred
    TQX_Event NewText;
    TQX_Event onEnterKey;
    TQX_Event onTextChange;

    // The edit's own text reader, for ValueSource.
    TMethod<bool(TData& value)> TextReader() { return MethodOf<&TQXEdit::ReadOwnText>(this); }

    // Replaces the text without reporting a change; the caret stays.
    void doSetText(TData& value, std::uint16_t index);
    // Data out: the current text, as a String.
    void readText(TData& value, std::uint16_t index);
    // Data out: what the value source gives; NULL when it gives nothing.
    void readValue(TData& value, std::uint16_t index);

    void keyDown(TControl* sender, int& key, std::uint32_t shift) override;
    void initControl() override;

private:
    bool ReadOwnText(TData& value);
    void changed(TControl* sender);
    // Sets the window text with change reporting off for exactly this call.
    void ReplaceText(std::string_view text);
};

class TQXLabel : public TQXWin {
public:
    explicit TQXLabel(TControl* parent);

    TQX_Event onClick;
    TColor HoverColor = 0;  // 0: none
    bool HoverUnderline = false;
    TText Caption;
    TQX_Event Text;

    // Set-up calls between construction and initControl.
    void SetAutoSize(bool on);
    void SetTextAlign(std::uint8_t code);

    void doSetText(TData& value, std::uint16_t index);
    void mouseEnter(TControl* sender) override;
    void mouseLeave(TControl* sender) override;
    void initControl() override;
};
