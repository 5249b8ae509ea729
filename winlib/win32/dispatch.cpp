// The window procedure of the layer and the dispatcher of TControl: which
// handler sees a message, in which order, and what the layer does itself.
#include <float.h>

#include <algorithm>
#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/gdi.h"
#include "winlib/win32/layer.h"
#include "winlib/win32/wintext.h"

namespace {

constexpr wchar_t SelfProperty[] = L"SELF_";

// System drawing code runs inside window procedures; it must never meet
// unmasked floating-point exceptions, whatever the rest of the program uses.
class TMaskedFloatingPoint {
public:
    TMaskedFloatingPoint() : saved_(_controlfp(0, 0)) { _controlfp(_MCW_EM, _MCW_EM); }
    ~TMaskedFloatingPoint() {
        _clearfp();
        _controlfp(saved_, _MCW_EM);
    }
    TMaskedFloatingPoint(const TMaskedFloatingPoint&) = delete;
    TMaskedFloatingPoint& operator=(const TMaskedFloatingPoint&) = delete;

private:
    unsigned int saved_;
};

bool KeyDown(int key) { return GetKeyState(key) < 0; }

std::uint32_t ShiftState() {
    std::uint32_t shift = 0;
    if (KeyDown(VK_SHIFT)) shift |= 1;
    if (KeyDown(VK_MENU)) shift |= 2;
    if (KeyDown(VK_CONTROL)) shift |= 4;
    return shift;
}

bool IsCharMessage(UINT message) {
    return message == WM_CHAR || message == WM_DEADCHAR || message == WM_SYSCHAR || message == WM_SYSDEADCHAR;
}

}  // namespace

TControl* TLayer::ControlOf(HWND window) {
    if (window == nullptr) return nullptr;
    auto* control = static_cast<TControl*>(GetPropW(window, SelfProperty));
    return control != nullptr && control->handle_ == window ? control : nullptr;
}

void TLayer::Bind(TControl* control, HWND window) {
    control->handle_ = window;
    SetPropW(window, SelfProperty, control);
}

LRESULT CALLBACK TLayer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TMaskedFloatingPoint masked;
    TControl* control = ControlOf(window);
    if (control == nullptr && creating != nullptr && creating->handle_ == nullptr) {
        // The first message of a window being created: bind it before
        // CreateWindowEx returns, so no message is missed.
        control = creating;
        Bind(control, window);
    }
    // A window without a control of its own: default processing for it alone.
    if (control == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    TMsg msg{window, message, wParam, lParam};
    // Held while it handles the message: freeing it meanwhile only marks it.
    control->RefInc();
    const LRESULT result = control->Dispatch(msg);
    control->RefDec();
    return result;
}

LRESULT TControl::DefaultProcessing(const TMsg& msg) {
    if (baseProc_ != nullptr && baseProc_ != DefWindowProcW)
        return CallWindowProcW(baseProc_, msg.Window, msg.Message, msg.WParam, msg.LParam);
    return DefWindowProcW(msg.Window, msg.Message, msg.WParam, msg.LParam);
}

LRESULT TControl::Dispatch(TMsg& msg) {
    LRESULT result = 0;
    // While the loop runs the application sees every control's messages first.
    TControl* app = TLayer::application;
    if (TLayer::running && app != nullptr && app != this && app->messageHook && app->messageHook(msg, result))
        return result;
    if (msg.Message == WM_LBUTTONUP) {
        // Decided before any handler runs: one that lets the capture go must
        // not undo the press it ends.
        releaseClicks_ = std::exchange(mousePressed_, false);
        if (releaseClicks_ && GetCapture() == handle_) ReleaseCapture();
    }
    if (messageHook && messageHook(msg, result)) return result;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        const TChainHandler handler = chain_[i];  // a handler may change the chain
        if (handler(this, msg, result)) return result;
    }
    if (HandleMouse(msg, result) || HandlePaint(msg, result) || BuiltIn(msg, result)) return result;
    return DefaultProcessing(msg);
}

bool TControl::HandleMouse(TMsg& msg, LRESULT& result) {
    if (msg.Message < WM_MOUSEMOVE || msg.Message > WM_MOUSEWHEEL) return false;
    MouseEventRecord mouse;
    mouse.Shift = static_cast<std::uint32_t>(msg.WParam) + (KeyDown(VK_MENU) ? 0x20 : 0);
    mouse.X = static_cast<std::int16_t>(LOWORD(msg.LParam));
    mouse.Y = static_cast<std::int16_t>(HIWORD(msg.LParam));
    TMouseHandler* handler = nullptr;
    switch (msg.Message) {
    case WM_MOUSEMOVE: handler = &mouseMoveHandler; break;
    case WM_LBUTTONDOWN: mouse.Button = 1; handler = &mouseDownHandler; break;
    case WM_RBUTTONDOWN: mouse.Button = 2; handler = &mouseDownHandler; break;
    case WM_MBUTTONDOWN: mouse.Button = 3; handler = &mouseDownHandler; break;
    case WM_LBUTTONUP: mouse.Button = 1; handler = &mouseUpHandler; break;
    case WM_RBUTTONUP: mouse.Button = 2; handler = &mouseUpHandler; break;
    case WM_MBUTTONUP: mouse.Button = 3; handler = &mouseUpHandler; break;
    case WM_LBUTTONDBLCLK: mouse.Button = 1; handler = &dblClickHandler; break;
    case WM_RBUTTONDBLCLK: mouse.Button = 2; handler = &dblClickHandler; break;
    case WM_MBUTTONDBLCLK: mouse.Button = 3; handler = &dblClickHandler; break;
    case WM_MOUSEWHEEL: handler = &wheelHandler; break;
    default: return false;
    }
    if (*handler) (*handler)(this, mouse);
    if (!mouse.StopHandling) return false;
    result = 0;
    return true;
}

bool TControl::HandlePaint(TMsg& msg, LRESULT& result) {
    if (!paintHandler || (msg.Message != WM_PAINT && msg.Message != WM_PRINTCLIENT)) return false;
    PAINTSTRUCT ps{};
    const bool begun = msg.Message == WM_PAINT;
    HDC dc = begun ? BeginPaint(handle_, &ps) : reinterpret_cast<HDC>(msg.WParam);
    HDC const outer = std::exchange(paintDC_, dc);
    const TGdiDCInUse inUse(dc);
    paintHandler(this, dc);
    if (canvas_) canvas_->DeselectAll();
    paintDC_ = outer;
    if (begun) EndPaint(handle_, &ps);
    result = 0;
    return true;
}

bool TControl::BuiltIn(TMsg& msg, LRESULT& result) {
    switch (msg.Message) {
    case WM_SIZE:
        result = DefaultProcessing(msg);
        windowState_ = msg.WParam == SIZE_MINIMIZED ? 1 : msg.WParam == SIZE_MAXIMIZED ? 2 : 0;
        ReadBoundsFromWindow();
        if (parent_ != nullptr && !isForm_) parent_->RealignChildren();
        RealignChildren();
        if (resizeHandler) resizeHandler(this);
        return true;
    case WM_MOVE:
        ReadBoundsFromWindow();
        return false;
    case WM_CLOSE:
        return HandleClose(result);
    case WM_SHOWWINDOW:
        return HandleShowWindow(msg, result);
    case WM_SETCURSOR:
        if (LOWORD(msg.LParam) == HTCLIENT && GetCapture() == nullptr && cursor_ != nullptr) {
            ::SetCursor(cursor_);
            result = 1;
            return true;
        }
        return false;
    case WM_NCDESTROY:
        result = DefaultProcessing(msg);
        WindowGone();
        // A top-level window went by itself: its object follows.
        if (!Destroying()) {
            if (this == TLayer::mainForm)
                FreeLater();
            else if (parent_ != nullptr && parent_ == TLayer::application)
                Free();
        }
        return true;
    case WM_COMMAND:
        // A child's notification goes back to the child, which knows its codes.
        if (TControl* child = TLayer::ControlOf(reinterpret_cast<HWND>(msg.LParam)); child != nullptr && child != this) {
            result = SendMessageW(child->handle_, WM_REFLECTED_COMMAND, msg.WParam, msg.LParam);
            return true;
        }
        return false;
    case WM_SYSCOMMAND:
        // Minimising the main form minimises the whole application.
        if ((msg.WParam & 0xFFF0) == SC_MINIMIZE && this == TLayer::mainForm && TLayer::application != nullptr &&
            TLayer::application->handle_ != nullptr) {
            PostMessageW(TLayer::application->handle_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            result = 0;
            return true;
        }
        return false;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        if (TControl* child = TLayer::ControlOf(reinterpret_cast<HWND>(msg.LParam)); child != nullptr && child != this) {
            result = SendMessageW(child->handle_, msg.Message + WM_REFLECTED_COLOR, msg.WParam, msg.LParam);
            return true;
        }
        return false;
    case WM_FREE_LATER: {
        // Only a control the layer itself marked; the parameter is compared,
        // never followed, so a forged message changes nothing.
        auto& marks = TLayer::freeLaterMarks;
        const auto target = reinterpret_cast<TControl*>(msg.LParam);
        if (auto it = std::find(marks.begin(), marks.end(), target); it != marks.end()) {
            marks.erase(it);
            target->Free();
        }
        result = 0;
        return true;
    }
    case WM_LBUTTONDOWN:
        // Controls of the layer's own class click on a press and release inside.
        if (kind_.StandardClass || !isChild_) return false;
        // Captured, so the release comes here wherever the pointer is then.
        if (GetCapture() != handle_) SetCapture(handle_);
        mousePressed_ = true;
        return false;
    case WM_CAPTURECHANGED:
        // Another window took the mouse: the press is over without a click.
        if (reinterpret_cast<HWND>(msg.LParam) != handle_) mousePressed_ = false;
        return false;
    case WM_LBUTTONUP: {
        if (kind_.StandardClass || !isChild_ || !std::exchange(releaseClicks_, false)) return false;
        const POINT p{static_cast<std::int16_t>(LOWORD(msg.LParam)), static_cast<std::int16_t>(HIWORD(msg.LParam))};
        RECT client = ClientRect();
        if (PtInRect(&client, p)) Click();
        return false;
    }
    case WM_ERASEBKGND:
        if (kind_.StandardClass) return false;
        if (!transparent_) FillBackground(reinterpret_cast<HDC>(msg.WParam), ClientRect());
        result = 1;
        return true;
    default:
        if (msg.Message >= WM_KEYFIRST && msg.Message <= WM_KEYFIRST + 8) return HandleKeys(msg, result);
        return false;
    }
}

bool TControl::HandleKeys(TMsg& msg, LRESULT& result) {
    if (!Focused()) return false;
    const bool isChar = IsCharMessage(msg.Message);
    const int original = isChar ? CharTo1251(static_cast<wchar_t>(msg.WParam)) : static_cast<int>(msg.WParam);
    int key = original;
    TKeyHandler* handler = nullptr;
    if (msg.Message == WM_KEYDOWN || msg.Message == WM_SYSKEYDOWN) handler = &keyDownHandler;
    if (msg.Message == WM_KEYUP || msg.Message == WM_SYSKEYUP) handler = &keyUpHandler;
    if (msg.Message == WM_CHAR || msg.Message == WM_SYSCHAR) handler = &charHandler;
    if (handler != nullptr && *handler) (*handler)(this, key, ShiftState());
    if (key != 0 && !KeyDown(VK_CONTROL) && !KeyDown(VK_MENU)) TLayer::Navigate(this, key, msg.Message);
    if (key == 0) {
        result = 0;
        return true;
    }
    if (key != original) msg.WParam = isChar ? CharFrom1251(static_cast<unsigned char>(key)) : static_cast<WPARAM>(key);
    return false;
}

bool TControl::HandleShowWindow(TMsg& msg, LRESULT& result) {
    if (msg.LParam == SW_PARENTCLOSING) {
        parentShowCommand_ = IsIconic(handle_) ? SW_SHOWMINNOACTIVE : IsZoomed(handle_) ? SW_SHOWMAXIMIZED : SW_SHOWNOACTIVATE;
        return false;
    }
    if (msg.LParam == SW_PARENTOPENING) {
        if (parentShowCommand_ != 0) ShowWindow(handle_, std::exchange(parentShowCommand_, 0));
        result = 0;
        return true;
    }
    const bool wasVisible = IsWindowVisible(handle_) != FALSE;
    if (msg.WParam && !wasVisible && showHandler) showHandler(this);
    if (!msg.WParam && wasVisible && hideHandler) hideHandler(this);
    return false;
}

bool TControl::HandleClose(LRESULT& result) {
    bool accept = true;
    if (closeQueryHandler) closeQueryHandler(this, accept);
    if (!accept) {
        result = 0;
        return true;
    }
    if (this == TLayer::mainForm || isApplication_) {
        // The whole program ends: the loop stops and frees the windows.
        if (TLayer::running) PostQuitMessage(0);
        result = 0;
        return true;
    }
    return false;  // default processing destroys the window
}

// --- Handlers the layer installs per kind ---

// Every child control: focus, notifications and colours.
bool TLayer::ChildHandler(void*, TControl* c, TMsg& msg, LRESULT& result) {
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

bool TLayer::FormHandler(void*, TControl* form, TMsg& msg, LRESULT& result) {
    switch (msg.Message) {
    case WM_SETFOCUS: {
        if (application != nullptr) application->currentControl_ = form;
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
        terminated = true;
        running = false;
        if (TControl* app = std::exchange(application, nullptr); app != nullptr) app->Free();
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

bool TLayer::ApplicationHandler(void*, TControl* app, TMsg& msg, LRESULT& result) {
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
        if ((msg.WParam & 0xFFF0) == SC_CLOSE && !app->children_.empty() && app->children_.front() == mainForm &&
            mainForm->handle_ != nullptr) {
            PostMessageW(mainForm->handle_, WM_CLOSE, 0, 0);
            result = 0;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void TLayer::AdjustSystemMenu(void*, TControl* app) {
    HMENU menu = GetSystemMenu(app->handle_, FALSE);
    if (menu == nullptr) return;
    DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
    EnableMenuItem(menu, SC_RESTORE, MF_BYCOMMAND | MF_GRAYED);
}

// --- Keyboard navigation ---

void TLayer::Navigate(TControl* focused, int& key, UINT message) {
    TControl* form = focused->ParentForm();
    if (form == nullptr || !form->navigation_) return;
    std::uint8_t group = 0;
    bool forwards = true;
    if (IsCharMessage(message)) {
        // Only the character of a Tab press; other characters are text.
        if (key == '\t') group = nkTab;
    } else {
        switch (key) {
        case VK_TAB: group = nkTab; forwards = !KeyDown(VK_SHIFT); break;
        case VK_LEFT: group = nkLeftRight; forwards = false; break;
        case VK_RIGHT: group = nkLeftRight; break;
        case VK_UP: group = nkUpDown; forwards = false; break;
        case VK_DOWN: group = nkUpDown; break;
        case VK_PRIOR: group = nkPage; forwards = false; break;
        case VK_NEXT: group = nkPage; break;
        default: break;
        }
    }
    if (group == 0 || (focused->navigationKeys_ & group) == 0) return;
    key = 0;
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) MoveFocus(form, forwards);
}

void TLayer::CollectTabStops(TControl* control, std::vector<TControl*>& out) {
    std::vector<TControl*> children = control->children_;
    std::stable_sort(children.begin(), children.end(),
                     [](const TControl* a, const TControl* b) { return a->tabOrder_ < b->tabOrder_; });
    for (TControl* child : children) {
        if (child->isForm_ || !child->visible_ || !child->enabled_ || child->handle_ == nullptr) continue;
        if (child->tabStop_ && (child->Style() & WS_TABSTOP)) out.push_back(child);
        CollectTabStops(child, out);
    }
}

void TLayer::MoveFocus(TControl* form, bool forwards) {
    std::vector<TControl*> stops;
    CollectTabStops(form, stops);
    if (stops.empty()) return;
    const auto at = std::find(stops.begin(), stops.end(), form->currentControl_);
    TControl* next = nullptr;
    if (at == stops.end())
        next = forwards ? stops.front() : stops.back();
    else if (forwards)
        next = at + 1 == stops.end() ? stops.front() : *(at + 1);
    else
        next = at == stops.begin() ? stops.back() : *(at - 1);
    SetFocus(next->handle_);
    form->currentControl_ = next;
}

// --- Default and cancel buttons ---

namespace {
TMessageHook hookBeforeFilter;
int markedButtons = 0;
}  // namespace

void TLayer::MarkButton(TControl* button, bool on, bool cancel) {
    TControl* form = button->ParentForm();
    if (form == nullptr) return;
    TControl*& slot = cancel ? form->cancelButton_ : form->defaultButton_;
    const bool wasMarked = slot == button;
    if (on == wasMarked) return;
    // One default button a form: the one it replaces loses its look.
    if (on && slot != nullptr) MarkButton(slot, false, cancel);
    if (on) {
        if (slot == nullptr) ++markedButtons;
        slot = button;
    } else {
        slot = nullptr;
        --markedButtons;
    }
    if (!cancel) button->SetStyle(on ? button->Style() | BS_DEFPUSHBUTTON : button->Style() & ~DWORD{BS_DEFPUSHBUTTON});
    TControl* app = application;
    if (app == nullptr) return;
    const TMessageHook filter{DefaultButtonFilter, nullptr};
    if (markedButtons > 0 && !(app->messageHook == filter)) {
        hookBeforeFilter = app->messageHook;
        app->messageHook = filter;
    } else if (markedButtons == 0 && app->messageHook == filter) {
        app->messageHook = std::exchange(hookBeforeFilter, {});
    }
}

// Enter and Escape in the active form click its default or cancel button:
// once per press, on the key going down (repeats and the key going up only
// are swallowed, so the focused control does not see them either).
bool TLayer::DefaultButtonFilter(void*, TMsg& msg, LRESULT& result) {
    const bool handled = [&] {
        const bool keyMessage = msg.Message == WM_KEYDOWN || msg.Message == WM_KEYUP || msg.Message == WM_CHAR;
        if (!keyMessage || msg.Window != GetFocus()) return false;
        const bool isChar = msg.Message == WM_CHAR;
        const WPARAM enter = isChar ? '\r' : VK_RETURN, escape = isChar ? 0x1B : VK_ESCAPE;
        if (msg.WParam != enter && msg.WParam != escape) return false;
        TControl* focused = ControlOf(msg.Window);
        TControl* form = focused != nullptr ? focused->ParentForm() : nullptr;
        if (form == nullptr || form->handle_ != GetActiveWindow()) return false;
        // A multi-line edit that wants Return keeps it.
        if (msg.WParam == enter && (focused->Style() & (ES_MULTILINE | ES_WANTRETURN)) == (ES_MULTILINE | ES_WANTRETURN) &&
            focused->kind_.ClassName == std::wstring_view(L"EDIT"))
            return false;
        TControl* button = msg.WParam == enter ? form->defaultButton_ : form->cancelButton_;
        if (button == nullptr || !button->visible_ || !button->enabled_) return false;
        const bool repeat = (msg.LParam & (1 << 30)) != 0;
        if (msg.Message == WM_KEYDOWN && !repeat) button->Click();
        return true;
    }();
    if (handled) {
        result = 0;
        return true;
    }
    return hookBeforeFilter && hookBeforeFilter(msg, result);
}

void TLayer::Forget(TControl* control) {
    std::erase(freeLaterMarks, control);
    if (creating == control) creating = nullptr;
    if (mainForm == control) mainForm = nullptr;
    if (application == control) application = nullptr;
    if (application != nullptr && application->currentControl_ == control) application->currentControl_ = nullptr;
    if (TControl* form = control->parent_ != nullptr ? control->parent_->ParentForm() : nullptr; form != nullptr) {
        if (form->currentControl_ == control) form->currentControl_ = nullptr;
        if (form->defaultButton_ == control) MarkButton(control, false, false);
        if (form->cancelButton_ == control) MarkButton(control, false, true);
        if (form->ModalChild == control) form->ModalChild = nullptr;
    }
}

void TLayer::ForgetTree(TControl* control) {
    Forget(control);
    for (TControl* child : control->children_) ForgetTree(child);
}
