// What each kind of control does with its messages, on top of the common
// dispatch: child controls (statics, edits, buttons, plain children) take
// focus, their notifications and their colours; forms restore the focus and
// end the program on shutdown; the application window stands for the main
// form on the taskbar.
#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/layer.h"

// Every child control: focus, notifications and colours.
bool TControl::ChildKindHandler(void*, TControl* c, TMsg& msg, LRESULT& result) {
    switch (msg.Message) {
    case WM_SETFOCUS:
        if (TControl* form = c->ParentForm(); form != nullptr) form->currentControl_ = c;
        return false;
    case WM_REFLECTED_COMMAND: {
        const WORD code = HIWORD(msg.WParam);
        const TClassDescriptor& k = c->kind_;
        if (code == k.ClickCode)
            c->Click();
        else if (code == k.FocusInCode && c->focusInHandler)
            c->focusInHandler(c);
        else if (code == k.FocusOutCode && c->focusOutHandler)
            c->focusOutHandler(c);
        else if (code == k.ChangeCode && c->changeHandler)
            c->changeHandler(c);
        result = 0;
        return true;
    }
    default:
        if (msg.Message < WM_CTLCOLORMSGBOX + WM_REFLECTED_COLOR || msg.Message > WM_CTLCOLORSTATIC + WM_REFLECTED_COLOR)
            return false;
        HDC dc = reinterpret_cast<HDC>(msg.WParam);
        ::SetTextColor(dc, ResolveColor(c->font_->Color()));
        if (c->transparent_) {
            SetBkMode(dc, TRANSPARENT);
            result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        } else {
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, ResolveColor(c->color_));
            result = reinterpret_cast<LRESULT>(c->BackgroundBrush());
        }
        return true;
    }
}

bool TControl::FormKindHandler(void*, TControl* form, TMsg& msg, LRESULT& result) {
    switch (msg.Message) {
    case WM_SETFOCUS: {
        if (Layer().Application != nullptr) Layer().Application->currentControl_ = form;
        TControl* current = form->currentControl_;
        if (current != nullptr && current->handle_ != nullptr && current->enabled_ && IsWindowVisible(current->handle_)) {
            SetFocus(current->handle_);
            result = 0;
            return true;
        }
        return false;
    }
    case WM_ENDSESSION:
        // Shutdown or log-off: end at once, without the close protocol.
        if (msg.WParam == 0) return false;
        Layer().Terminated = true;
        Layer().Running = false;
        if (TControl* app = std::exchange(Layer().Application, nullptr); app != nullptr) app->Free();
        HaltProgram(0);
        result = 0;
        return true;
    case WM_ERASEBKGND:
        for (const TObjHold<TControl>& child : form->HeldChildren())
            if (child->parent_ == form && child->isChild_ && child->handle_ == nullptr) child->CreateWindowNow();
        if (!form->transparent_) form->FillBackground(reinterpret_cast<HDC>(msg.WParam), form->ClientRect());
        result = 1;
        return true;
    default:
        return false;
    }
}

bool TControl::ApplicationKindHandler(void*, TControl* app, TMsg& msg, LRESULT& result) {
    switch (msg.Message) {
    case WM_SETFOCUS:
        if (TControl* current = app->currentControl_; current != nullptr && current->handle_ != nullptr) {
            SetFocus(current->handle_);
            result = 0;
            return true;
        }
        return false;
    case WM_SYSCOMMAND:
        // Closing from the taskbar button goes through the main form's close.
        if ((msg.WParam & 0xFFF0) == SC_CLOSE && !app->children_.empty() && app->children_.front() == Layer().MainForm &&
            Layer().MainForm->handle_ != nullptr) {
            PostMessageW(Layer().MainForm->handle_, WM_CLOSE, 0, 0);
            result = 0;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void TControl::AdjustSystemMenu(void*, TControl* app) {
    HMENU menu = GetSystemMenu(app->handle_, FALSE);
    if (menu == nullptr) return;
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
    EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | MF_GRAYED);
}
