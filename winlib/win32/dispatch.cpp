// The window procedure of the layer and the dispatcher of TControl: which
// handler sees a message, in which order, and what every control does
// itself. What a kind adds is in kinds.cpp, keyboard navigation in
// navigation.cpp.
#include <float.h>

#include <algorithm>
#include <utility>

#include "winlib/win32/control.h"
#include "winlib/win32/gdi.h"
#include "winlib/win32/layer.h"
#include "winlib/win32/wintext.h"

namespace {

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

std::uint32_t ShiftState() {
    std::uint32_t shift = 0;
    if (KeyDown(VK_SHIFT)) shift |= 1;
    if (KeyDown(VK_MENU)) shift |= 2;
    if (KeyDown(VK_CONTROL)) shift |= 4;
    return shift;
}

}  // namespace

TControl* TControl::ControlOf(HWND window) {
    if (window == nullptr) return nullptr;
    auto* control = static_cast<TControl*>(GetPropW(window, SelfProperty));
    return control != nullptr && control->handle_ == window ? control : nullptr;
}

void TControl::Bind(TControl* control, HWND window) {
    control->handle_ = window;
    SetPropW(window, SelfProperty, control);
}

LRESULT CALLBACK TControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TMaskedFloatingPoint masked;
    TControl* control = ControlOf(window);
    TControl* const creating = Layer().Creating;
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
    TControl* app = Layer().Application;
    if (Layer().Running && app != nullptr && app != this && app->messageHook && app->messageHook(msg, result))
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
            if (this == Layer().MainForm)
                FreeLater();
            else if (parent_ != nullptr && parent_ == Layer().Application)
                Free();
        }
        return true;
    case WM_COMMAND:
        // A child's notification goes back to the child, which knows its codes.
        if (TControl* child = TControl::ControlOf(reinterpret_cast<HWND>(msg.LParam)); child != nullptr && child != this) {
            result = SendMessageW(child->handle_, WM_REFLECTED_COMMAND, msg.WParam, msg.LParam);
            return true;
        }
        return false;
    case WM_SYSCOMMAND:
        // Minimising the main form minimises the whole application.
        if ((msg.WParam & 0xFFF0) == SC_MINIMIZE && this == Layer().MainForm && Layer().Application != nullptr &&
            Layer().Application->handle_ != nullptr) {
            PostMessageW(Layer().Application->handle_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
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
        if (TControl* child = TControl::ControlOf(reinterpret_cast<HWND>(msg.LParam)); child != nullptr && child != this) {
            result = SendMessageW(child->handle_, msg.Message + WM_REFLECTED_COLOR, msg.WParam, msg.LParam);
            return true;
        }
        return false;
    case WM_FREE_LATER: {
        // Only a control the layer itself marked; the parameter is compared,
        // never followed, so a forged message changes nothing.
        auto& marks = Layer().FreeLaterMarks;
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
    if (key != 0 && !KeyDown(VK_CONTROL) && !KeyDown(VK_MENU)) TControl::Navigate(this, key, msg.Message);
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
    if (this == Layer().MainForm || isApplication_) {
        // The whole program ends: the loop stops and frees the windows.
        if (Layer().Running) PostQuitMessage(0);
        result = 0;
        return true;
    }
    return false;  // default processing destroys the window
}

