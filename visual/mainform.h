#pragma once
// TQXMainForm: a top-level window. The first one made also makes the
// application window (which owns the taskbar button and runs the loop) and
// is the program's main form: closing it ends the program.

#include <windows.h>

#include <cstdint>

#include "visual/win.h"
#include "winlib/obj.h"
#include "winlib/win32/graphics.h"

class TQXMainForm : public TQXWin {
public:
    explicit TQXMainForm(TControl* parent);
    ~TQXMainForm() override;

    bool OwnsApplication = false;
    bool FirstShown = false;
    // The window that was active when this form was shown; activated again
    // when the form is hidden or closed. A handle, checked before use.
    HWND PreviousActive = nullptr;
    TQXAttachment* FormAttachment = nullptr;
    TObjPtr<TBitmap> Background;  // painted at (0,0) when not empty
    bool DragByClick = false;
    std::uint8_t Opacity = 255;
    std::uint8_t StartState = 0;  // 0 normal, 1 minimised, 2 maximised
    TMethod<void(bool save)> PositionStore;  // chosen by initControl from PositionKey
    TText PositionKey;  // empty: not stored; "<file>.ini\<section>": INI file; else a registry key
    bool ClientSizing = false;
    TMethod<void()> AfterInit;

    TQX_Event BlockClose;
    TQX_Event onActivate, onDeactivate, onStart, onClose;

    void SetCaption(std::string_view caption);
    void SetFrameKind(std::uint8_t kind);  // 0..9; larger values change nothing
    void SetIcon(HICON icon);
    void SetNoTaskbarButton(std::uint8_t flag);
    void AttachForm(TQXAttachment* attachment);

    // Integer 0 hides; any other value shows.
    void doSetVisible(TData& value, std::uint16_t index);

    void mouseDown(TControl* sender, MouseEventRecord& mouse) override;
    bool windowMessage(TMsg& msg, LRESULT& result) override;
    void shown(TControl* sender) override;
    void initControl() override;

private:
    static void Startup(void* self);
    bool CloseProtocol(bool askedByUser);
    void ActivatePrevious();
    void PaintBackground(TControl* sender, HDC dc);
    void StoreNothing(bool) {}
    void StoreInRegistry(bool save);
    void StoreInIni(bool save);
};

// Windows of the forms that do not own the application window, in the order
// they were made (an empty string, the window handle as object).
TStrListEx& FormWindows();
