#pragma once
// TQXWin: the base of every element that owns a window. It holds the
// properties a scheme sets on every visual element, applies them to its
// control when the control is built, and turns the control's keyboard,
// mouse, focus, size and visibility notifications into event-out points.
//
// A visual element is made in three steps: construction with the parent
// control; the scheme writes the fields and links; the scheme calls
// initControl, which makes the control and its window.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/events.h"
#include "winlib/method.h"
#include "winlib/win32/control.h"

struct THintOperations;

// Font of an element: style bits 1 bold, 2 italic, 4 underline, 8 strike-out;
// character set 1 default, 204 Cyrillic.
struct TFontRec {
    TText Name;
    std::uint8_t Size = 0;  // points
    std::uint8_t Style = 0;
    TColor Color = 0;
    std::uint8_t Charset = 1;
};
inline TFontRec MakeFontRec(const char* name, std::uint8_t size, std::uint8_t style, TColor color, std::uint8_t charset) {
    return TFontRec{TText(name), size, style, color, charset};
}

// The control an element owns. When the layer frees it by itself (the
// system closed a top-level window) it reads as nullptr from then on, so
// nothing touches a freed control; otherwise it goes with its owner.
class TOwnedControl {
public:
    TOwnedControl() = default;
    ~TOwnedControl() { Free(); }
    TOwnedControl(const TOwnedControl&) = delete;
    TOwnedControl& operator=(const TOwnedControl&) = delete;
    TOwnedControl& operator=(TControl* control) {
        Free();
        control_ = control;
        return *this;
    }

    TControl* get() const { return control_; }
    TControl* operator->() const { return control_; }
    operator TControl*() const { return control_; }

    // The layer freed it: forget it without touching it.
    void Forget() { control_ = nullptr; }
    // Hides and frees it; nullptr afterwards.
    void Free();

private:
    TControl* control_ = nullptr;
};

// An object attached to an element's control (none in this program).
class TQXAttachment : public TObj {
public:
    virtual void AttachTo(TControl* control, std::int32_t parameter1, std::int32_t parameter2) = 0;
    virtual void DetachFrom(TControl* control) = 0;
};

class TQXWin {
public:
    explicit TQXWin(TControl* parent);
    virtual ~TQXWin();
    TQXWin(const TQXWin&) = delete;
    TQXWin& operator=(const TQXWin&) = delete;

    TMethod<TControl*()> ControlAccessRecord;  // filled by initControl
    TControl* Parent = nullptr;
    TMessageHook previousHook;
    MouseEventRecord lastMouse;
    std::int32_t keyOverride = -1;
    std::uintptr_t hintToolId = 0;
    THintOperations* hintManager = nullptr;
    TQXAttachment* Attachment = nullptr;
    TOwnedControl control;

    std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    std::uint8_t Align = 0;
    std::int32_t TabOrder = 0;
    TColor Color = 0;
    std::uint8_t BorderKind = 2;
    TText Hint;
    TFontRec Font;
    bool InheritFont = false;
    bool Transparent = false;
    bool Visible = true;
    bool Enabled = true;
    HCURSOR Cursor = nullptr;
    bool CaptureMouse = false;
    bool Flat = false;
    bool KeysToParent = true;
    std::uint8_t EdgeKind = 0;
    std::int32_t AttachParameter1 = 0, AttachParameter2 = 0;

    TQX_Event onKeyDown, onKeyUp, onChar, onMouseDown, onMouseMove, onMouseUp, onWheel, onFocus, onBlur,
        onDoubleClick, onResize, onShow, onMove, onMouseEnter, onMouseLeave;
    TQX_Event WidthChange, HeightChange;

    // Virtual operations.
    virtual void keyDown(TControl* sender, int& key, std::uint32_t shift);
    virtual void keyUp(TControl* sender, int& key, std::uint32_t shift);
    virtual void keyChar(TControl* sender, int& key, std::uint32_t shift);
    virtual void mouseDown(TControl* sender, MouseEventRecord& mouse);
    virtual void mouseMove(TControl* sender, MouseEventRecord& mouse);
    virtual void mouseEnter(TControl* sender);
    virtual void mouseLeave(TControl* sender);
    virtual void mouseUp(TControl* sender, MouseEventRecord& mouse);
    virtual void mouseWheel(TControl* sender, MouseEventRecord& mouse);
    virtual bool windowMessage(TMsg& msg, LRESULT& result);
    virtual void controlDestroyed(TControl* sender);
    virtual void resized(TControl* sender);
    virtual void shown(TControl* sender);
    virtual void initControl();
    TMethod<TControl*()>* controlAccess() { return &ControlAccessRecord; }

    // A handler of the element's own in the control's chain; it comes off
    // with the element's other handlers.
    void AddControlHandler(TChainHandler handler);

    // Hint attachment: with no manager and a non-empty Hint the program-wide
    // manager is used; an empty Hint with no manager registers nothing.
    void AttachHint(THintOperations* manager);
    // Attachment operation (nullptr: none).
    void Attach(TQXAttachment* attachment);

protected:
    // Takes the element's handlers off the control, so that nothing the
    // control does from now on reaches this element, then hides and frees
    // it. The destructor does it; a derived one that needs the control gone
    // earlier may call it first. Safe to call twice.
    void FreeControl();

private:
    void keyDownWrapper(TControl* sender, int& key, std::uint32_t shift);
    void keyUpWrapper(TControl* sender, int& key, std::uint32_t shift);
    void charWrapper(TControl* sender, int& key, std::uint32_t shift);
    void doubleClicked(TControl* sender, MouseEventRecord& mouse);
    TControl* ownControl() { return control.get(); }
    void DetachFromControl();
    std::vector<TChainHandler> addedHandlers_;
    void ProposeSize(WINDOWPOS& position);
    bool detached_ = false;
};
