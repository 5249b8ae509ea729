#include "visual/win.h"

#include <utility>

#include "visual/hint.h"

TQXWin::TQXWin(TControl* parent) : Parent(parent) {
    if (parent != nullptr) Color = parent->Color();
}

// Derived parts are gone by now, but nothing reached them meanwhile: no
// window was touched, so no message came.
TQXWin::~TQXWin() { FreeControl(); }

void TOwnedControl::Free() {
    TControl* c = std::exchange(control_, nullptr);
    if (c == nullptr) return;
    c->OnDestroy = {};
    c->Hide();
    c->Free();
}

void TQXWin::AddControlHandler(TChainHandler handler) {
    if (control == nullptr) return;
    control->AddHandler(handler);
    addedHandlers_.push_back(handler);
}

void TQXWin::DetachFromControl() {
    if (detached_) return;
    detached_ = true;
    if (control != nullptr) {
        for (const TChainHandler& handler : addedHandlers_) control->RemoveHandler(handler);
        if (Attachment != nullptr) Attachment->DetachFrom(control);
        // Messages sent while the window goes (focus, show) must not reach a
        // half-destroyed element.
        control->ClearHandlers();
        control->messageHook = previousHook;
        control->OnDestroy = {};
    }
    if (Attachment != nullptr) std::exchange(Attachment, nullptr)->RefDec();
    if (hintToolId != 0 && hintManager != nullptr) hintManager->UnregisterTool(std::exchange(hintToolId, 0));
}

void TQXWin::FreeControl() {
    DetachFromControl();
    control.Free();
}

void TQXWin::AttachHint(THintOperations* manager) {
    if (manager == nullptr) {
        if (Hint.empty()) return;
        manager = DefaultHintManager().Operations();
    }
    hintManager = manager;
    if (control == nullptr) return;
    hintToolId = manager->RegisterTool(control->GetWindowHandle());
    manager->SetText(hintToolId, Hint.view());
}

void TQXWin::Attach(TQXAttachment* attachment) {
    if (attachment == nullptr) return;
    attachment->RefInc();
    if (Attachment != nullptr) Attachment->RefDec();
    Attachment = attachment;
    if (control != nullptr) attachment->AttachTo(control, AttachParameter1, AttachParameter2);
}

void TQXWin::initControl() {
    TControl* c = control;
    if (c == nullptr) return;
    // 1. Others reach the control through this record.
    ControlAccessRecord = MethodOf<&TQXWin::ownControl>(this);
    // 2-3. Colour, position and size.
    c->SetColor(Color);
    c->SetPosition(Left, Top);
    if (Width > 0) c->SetWidth(Width);
    if (Height > 0) c->SetHeight(Height);
    // 4. Border.
    if (BorderKind == 0) {
        c->SetStyle(c->Style() & ~DWORD{WS_BORDER});
        c->SetExStyle(c->ExStyle() | WS_EX_CLIENTEDGE);
    } else if (BorderKind == 1) {
        c->SetStyle(c->Style() | WS_BORDER);
        c->SetExStyle(c->ExStyle() & ~DWORD{WS_EX_CLIENTEDGE});
    }
    // 5-7.
    if (Transparent && c->Parent() != nullptr) c->SetTransparent(true);
    c->SetEnabled(Enabled);
    c->SetCursor(Cursor);
    if (Flat) c->SetStyle(c->Style() | BS_FLAT);
    // 8. Font.
    TGraphicTool* font = c->Font();
    if (InheritFont && Parent != nullptr) {
        font->Assign(*Parent->Font());
    } else {
        font->SetColor(Font.Color);
        font->SetFontStyle(Font.Style);
        font->SetFontName(Font.Name.view());
        font->SetFontHeight(PointsToHeight(Font.Size));
        font->SetFontCharset(Font.Charset);
    }
    // 9. Tab order.
    if (TabOrder > 0) {
        c->SetStyle(c->Style() | WS_TABSTOP);
        c->SetNavigationKeys(nkTab);
        c->SetTabOrder(TabOrder);
        c->SetTabStop(true);
    } else {
        c->SetTabStop(TabOrder == 0);
    }
    // 10-11. Handlers; every message still reaches the hook that was there.
    previousHook = c->messageHook;
    c->mouseDownHandler = MethodOf<&TQXWin::mouseDown>(this);
    c->mouseMoveHandler = MethodOf<&TQXWin::mouseMove>(this);
    c->mouseUpHandler = MethodOf<&TQXWin::mouseUp>(this);
    c->wheelHandler = MethodOf<&TQXWin::mouseWheel>(this);
    c->dblClickHandler = MethodOf<&TQXWin::doubleClicked>(this);
    c->messageHook = MethodOf<&TQXWin::windowMessage>(this);
    c->OnDestroy = {[](void* self, TObj* sender) { static_cast<TQXWin*>(self)->controlDestroyed(static_cast<TControl*>(sender)); },
                    this};
    c->keyDownHandler = MethodOf<&TQXWin::keyDownWrapper>(this);
    c->keyUpHandler = MethodOf<&TQXWin::keyUpWrapper>(this);
    c->charHandler = MethodOf<&TQXWin::charWrapper>(this);
    c->resizeHandler = MethodOf<&TQXWin::resized>(this);
    c->showHandler = MethodOf<&TQXWin::shown>(this);
    // 12. Docking.
    c->SetAlign(Align);
    // 13. To the top of its siblings, hidden; asking for the handle makes the window.
    SetWindowPos(c->GetWindowHandle(), HWND_TOP, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_HIDEWINDOW | SWP_NOOWNERZORDER);
    // 14-15. Visibility, then the window (and those of the children).
    c->SetVisible(Visible);
    c->CreateWindowNow();
    // 16. Edge kinds replace the whole extended style.
    if (BorderKind == 0 && EdgeKind >= 1 && EdgeKind <= 4) {
        static constexpr DWORD edges[] = {0, WS_EX_STATICEDGE, WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME | WS_EX_CLIENTEDGE};
        c->SetExStyle(edges[EdgeKind - 1]);
    }
}

// --- Keys: the parent's handlers first; a swallowed key stays swallowed ---

void TQXWin::keyDownWrapper(TControl* sender, int& key, std::uint32_t shift) {
    if (KeysToParent && Parent != nullptr && Parent->keyDownHandler) {
        Parent->keyDownHandler(sender, key, shift);
        if (key == 0) return;
    }
    keyOverride = -1;
    keyDown(sender, key, shift);
    if (key == 0)
        keyOverride = 0;
    else if (keyOverride >= 0)
        key = keyOverride;
}

void TQXWin::keyUpWrapper(TControl* sender, int& key, std::uint32_t shift) {
    if (KeysToParent && Parent != nullptr && Parent->keyUpHandler) {
        Parent->keyUpHandler(sender, key, shift);
        if (key == 0) return;
    }
    keyOverride = -1;
    keyUp(sender, key, shift);
    if (keyOverride >= 0) key = keyOverride;
}

void TQXWin::charWrapper(TControl* sender, int& key, std::uint32_t shift) {
    if (KeysToParent && Parent != nullptr && Parent->charHandler) {
        Parent->charHandler(sender, key, shift);
        if (key == 0) return;
    }
    if (keyOverride != 0) keyChar(sender, key, shift);
    if (keyOverride >= 0) key = keyOverride;
}

void TQXWin::keyDown(TControl*, int& key, std::uint32_t) { FireInteger(onKeyDown, key); }
void TQXWin::keyUp(TControl*, int& key, std::uint32_t) { FireInteger(onKeyUp, key); }

void TQXWin::keyChar(TControl*, int& key, std::uint32_t) {
    const char c = static_cast<char>(key);
    FireText(onChar, TText(std::string_view(&c, 1)));
}

// --- Mouse ---

void TQXWin::mouseDown(TControl*, MouseEventRecord& mouse) {
    lastMouse = mouse;
    FireInteger(onMouseDown, mouse.Button - 1);
    if (CaptureMouse && control != nullptr) {
        ReleaseCapture();
        SetCapture(control->Handle());
    }
}

void TQXWin::mouseMove(TControl*, MouseEventRecord& mouse) {
    // Both the hint manager and onMouseMove see the event before this one.
    if (hintManager != nullptr) hintManager->MouseMoved(hintToolId, lastMouse.X, lastMouse.Y);
    const std::uint32_t held = lastMouse.Shift;
    const std::int32_t value = held == MK_LBUTTON ? 0 : held == MK_RBUTTON ? 1 : held == MK_MBUTTON ? 2 : -1;
    lastMouse = mouse;
    FireInteger(onMouseMove, value);
}

void TQXWin::mouseUp(TControl*, MouseEventRecord& mouse) {
    lastMouse = mouse;
    FireInteger(onMouseUp, mouse.Button - 1);
    if (CaptureMouse) ReleaseCapture();
}

void TQXWin::mouseWheel(TControl*, MouseEventRecord& mouse) {
    lastMouse = mouse;
    FireInteger(onWheel, static_cast<std::int16_t>(HIWORD(mouse.Shift)));
}

void TQXWin::doubleClicked(TControl*, MouseEventRecord& mouse) { FireInteger(onDoubleClick, mouse.Button - 1); }

void TQXWin::mouseEnter(TControl*) {
    if (hintManager != nullptr) hintManager->MouseEntered(hintToolId);
    FireNull(onMouseEnter);
}

void TQXWin::mouseLeave(TControl*) {
    if (hintManager != nullptr) hintManager->MouseLeft(hintToolId);
    FireNull(onMouseLeave);
}

// --- Window messages ---

void TQXWin::ProposeSize(WINDOWPOS& position) {
    RECT now{};
    GetWindowRect(control->Handle(), &now);
    auto consult = [](const TQX_Event& point, int current, int& proposed) {
        if (proposed == current || !point.Linked()) return;
        TData value;
        SetInteger(value, proposed - current);
        ReadPoint(point, value);
        if (value.Kind == dtInteger) proposed = current + value.IntValue;
    };
    consult(HeightChange, now.bottom - now.top, position.cy);
    consult(WidthChange, now.right - now.left, position.cx);
}

bool TQXWin::windowMessage(TMsg& msg, LRESULT& result) {
    if (control != nullptr && msg.Window == control->Handle()) {
        switch (msg.Message) {
        case WM_MOVE:
            FireNull(onMove);
            break;
        case WM_SETFOCUS:
            FireNull(onFocus);
            break;
        case WM_KILLFOCUS:
            FireNull(onBlur);
            break;
        case WM_WINDOWPOSCHANGING: {
            auto* position = reinterpret_cast<WINDOWPOS*>(msg.LParam);
            if (position != nullptr && (position->flags & SWP_NOSIZE) == 0) ProposeSize(*position);
            break;
        }
        case WM_MOUSEHOVER:
            mouseEnter(control);
            break;
        case WM_MOUSELEAVE: {
            mouseLeave(control);
            TRACKMOUSEEVENT track{sizeof track, TME_HOVER, msg.Window, HOVER_DEFAULT};
            TrackMouseEvent(&track);
            break;
        }
        default:
            if (msg.Message >= WM_MOUSEFIRST && msg.Message <= WM_MOUSEWHEEL) {
                // Every mouse message counts as entering, not only the first.
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, msg.Window, HOVER_DEFAULT};
                TrackMouseEvent(&track);
                mouseEnter(control);
            }
            break;
        }
    }
    return previousHook && previousHook(msg, result);
}

void TQXWin::controlDestroyed(TControl*) { control.Forget(); }
void TQXWin::resized(TControl*) { FireNull(onResize); }
void TQXWin::shown(TControl*) { FireNull(onShow); }
