#include "visual/mainform.h"

#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "winlib/codepage.h"
#include "winlib/inifile.h"
#include "winlib/win32/wintext.h"

TStrListEx& FormWindows() {
    static TStrListEx list;
    return list;
}

TQXMainForm::TQXMainForm(TControl* parent) : TQXWin(parent) {
    if (Application() == nullptr) {
        TControl::NewApplication("");
        OwnsApplication = true;
    }
    control = TControl::NewForm(parent != nullptr ? parent : Application(), "");
    control->Hide();
    control->showHandler = MethodOf<&TQXMainForm::shown>(this);
    control->SetMargin(0);
    if (OwnsApplication) SetMainForm(control);
    RegisterStartup(&TQXMainForm::Startup, this);
    Background = NewObj<TBitmap>();
}

TQXMainForm::~TQXMainForm() {
    UnregisterStartup(&TQXMainForm::Startup, this);
    if (control != nullptr && control->Handle() != nullptr) {
        TStrListEx& forms = FormWindows();
        const std::int32_t at = forms.IndexOfObject(reinterpret_cast<std::uintptr_t>(control->Handle()));
        if (at >= 0) forms.Delete(at);
    }
    FreeControl();
    // The application window goes with the form that made it.
    if (OwnsApplication && Application() != nullptr) TerminateApplication();
}

void TQXMainForm::Startup(void* self) {
    auto* form = static_cast<TQXMainForm*>(self);
    FireNull(form->onStart);
    if (form->control != nullptr) form->control->SetVisible(form->Visible);
}

void TQXMainForm::SetCaption(std::string_view caption) {
    control->SetText(caption);
    // The taskbar button shows the application window's text.
    if (OwnsApplication && Application() != nullptr) Application()->SetText(caption);
}

void TQXMainForm::SetFrameKind(std::uint8_t kind) {
    struct TFrame {
        DWORD Style, ExStyle;
    };
    constexpr DWORD caption = WS_CAPTION, sizing = WS_THICKFRAME, boxes = WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    static constexpr TFrame frames[] = {
        {0, 0},
        {caption | WS_MINIMIZEBOX, 0},
        {caption | sizing | boxes, 0},
        {caption, WS_EX_WINDOWEDGE},
        {caption, WS_EX_TOOLWINDOW},
        {caption | sizing, WS_EX_TOOLWINDOW},
        {0, WS_EX_DLGMODALFRAME},
        {sizing, WS_EX_TOOLWINDOW},
        {0, WS_EX_DLGMODALFRAME | WS_EX_CLIENTEDGE},
        {sizing, WS_EX_CLIENTEDGE},
    };
    if (kind >= std::size(frames)) return;
    control->SetStyle((control->Style() & ~(caption | sizing | boxes)) | frames[kind].Style);
    control->SetExStyle((control->ExStyle() & ~DWORD{WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE}) |
                        frames[kind].ExStyle);
}

void TQXMainForm::SetIcon(HICON icon) {
    TControl* app = Application();
    if (OwnsApplication && app != nullptr) app->SetIcon(icon);
    if (icon == nullptr) {
        TControl* from = Parent != nullptr ? Parent : app;
        if (from != nullptr) icon = from->Icon();
    }
    control->SetIcon(icon);  // shared: never destroyed by the form
}

void TQXMainForm::SetNoTaskbarButton(std::uint8_t flag) {
    if (flag == 1 && OwnsApplication && Application() != nullptr)
        Application()->SetExStyle(WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME);
}

void TQXMainForm::AttachForm(TQXAttachment* attachment) {
    FormAttachment = attachment;
    if (attachment != nullptr && control != nullptr) attachment->AttachTo(control, AttachParameter1, AttachParameter2);
}

void TQXMainForm::initControl() {
    if (PositionKey.empty())
        PositionStore = MethodOf<&TQXMainForm::StoreNothing>(this);
    else if (PositionKey.view().find(".ini\\") != std::string_view::npos)
        PositionStore = MethodOf<&TQXMainForm::StoreInIni>(this);
    else
        PositionStore = MethodOf<&TQXMainForm::StoreInRegistry>(this);

    // The window is made hidden; the start-up shows it.
    const bool visible = std::exchange(Visible, false);
    TQXWin::initControl();
    Visible = visible;
    if (!OwnsApplication && control->Handle() != nullptr)
        FormWindows().AddObject("", reinterpret_cast<std::uintptr_t>(control->Handle()));

    // Looked up at run time: older systems lack it, and then nothing happens.
    using TSetLayered = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    const auto setLayered = reinterpret_cast<TSetLayered>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"User32"), "SetLayeredWindowAttributes")));
    if (setLayered != nullptr) {
        if (Opacity < 255) {
            control->SetExStyle(control->ExStyle() | WS_EX_LAYERED);
            setLayered(control->Handle(), 0, Opacity, LWA_ALPHA);
        } else {
            control->SetExStyle(control->ExStyle() & ~DWORD{WS_EX_LAYERED});
        }
    }
    if (ClientSizing) control->SetClientSize(Width, Height);
    control->paintHandler = MethodOf<&TQXMainForm::PaintBackground>(this);
    control->UserData = reinterpret_cast<std::uintptr_t>(this);
    if (AfterInit) AfterInit();
}

void TQXMainForm::PaintBackground(TControl*, HDC dc) {
    if (!Background->Empty()) Background->Draw(dc, 0, 0);
}

void TQXMainForm::shown(TControl* sender) {
    if (!FirstShown) {
        FirstShown = true;  // first: the calls below show the window again
        if (StartState == 1) ShowWindow(control->Handle(), SW_SHOWMINNOACTIVE);
        if (StartState == 2) ShowWindow(control->Handle(), SW_SHOWMAXIMIZED);
        if (PositionStore) PositionStore(false);
    }
    TQXWin::shown(sender);
}

void TQXMainForm::mouseDown(TControl* sender, MouseEventRecord& mouse) {
    if (DragByClick) {
        ReleaseCapture();
        SendMessageW(control->Handle(), WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);  // move by the caption
    }
    TQXWin::mouseDown(sender, mouse);
}

bool TQXMainForm::windowMessage(TMsg& msg, LRESULT& result) {
    if (control != nullptr && msg.Window == control->Handle()) {
        TControl* app = Application();
        RECT r{};
        switch (msg.Message) {
        case WM_MOVE:
            // The application window follows, so its taskbar button does too.
            // onMove fires once, in the common handling.
            if (OwnsApplication && app != nullptr && GetWindowRect(msg.Window, &r)) app->SetPosition(r.left, r.top);
            break;
        case WM_SIZE:
            if (OwnsApplication && app != nullptr && GetWindowRect(msg.Window, &r)) app->SetWidth(r.right - r.left);
            break;
        case WM_ACTIVATE:
            FireNull(LOWORD(msg.WParam) != WA_INACTIVE ? onActivate : onDeactivate);
            break;
        case WM_CLOSE:
            if (CloseProtocol(msg.LParam == 0)) {
                result = 0;
                return true;
            }
            break;
        case WM_ERASEBKGND:
            if (!Background->Empty()) {
                result = 1;
                return true;
            }
            break;
        default:
            break;
        }
    }
    return TQXWin::windowMessage(msg, result);
}

// True: the close is handled here (refused, or the form only hides).
bool TQXMainForm::CloseProtocol(bool askedByUser) {
    if (askedByUser && BlockClose.Linked() && PointInteger(BlockClose) != 0) return true;
    // Child forms close without asking their own BlockClose.
    for (int i = 0; i < control->ChildCount(); ++i) {
        TControl* child = control->Child(i);
        if (child->IsForm() && child->Handle() != nullptr) SendMessageW(child->Handle(), WM_CLOSE, 0, 1);
    }
    ActivatePrevious();
    bool handled = true;
    if (OwnsApplication) {
        // The default handling goes on and ends the program; nothing may
        // react while the schemes are being destroyed.
        handled = false;
        FireNull(onClose);
        StopFramework();
    } else {
        TControl* form = Parent != nullptr ? Parent->ParentForm() : nullptr;
        if (form == nullptr || form->ModalChild != control) {
            Visible = false;
            control->SetVisible(false);
        } else {
            control->ModalResult = -1;
        }
    }
    if (PositionStore) PositionStore(true);
    return handled;
}

void TQXMainForm::ActivatePrevious() {
    HWND previous = std::exchange(PreviousActive, nullptr);
    if (previous != nullptr && IsWindow(previous)) PostMessageW(previous, WM_ACTIVATE, WA_ACTIVE, 0);
}

void TQXMainForm::doSetVisible(TData& value, std::uint16_t) {
    TControl* app = Application();
    if (value.Kind == dtInteger && value.IntValue == 0) {
        Visible = false;
        control->SetVisible(false);
        if (OwnsApplication && app != nullptr) app->SetVisible(false);
        ActivatePrevious();
        return;
    }
    Visible = true;
    TControl* current = app != nullptr ? app->CurrentControl() : nullptr;
    PreviousActive = current != nullptr && current != control ? current->Handle() : nullptr;
    control->CreateWindowNow();
    control->SetVisible(true);
    SetForegroundWindow(control->Handle());
    control->Focus();
    if (OwnsApplication && app != nullptr) app->SetVisible(true);
}

// --- Window-position stores ---

namespace {

// The normal (restored) position, whatever state the window is in now.
RECT NormalPosition(HWND window) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    RECT r{};
    if (GetWindowPlacement(window, &placement) && placement.showCmd != SW_SHOWNORMAL)
        r = placement.rcNormalPosition;
    else
        GetWindowRect(window, &r);
    return r;
}

// A whole decimal number that fits 32 bits, nothing else.
std::optional<std::int32_t> WellFormed(const std::string& text) {
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

}  // namespace

void TQXMainForm::StoreInRegistry(bool save) {
    const std::wstring key = L"Software\\" + Widen1251(PositionKey.view());
    HKEY handle = nullptr;
    static constexpr const wchar_t* names[] = {L"Left", L"Top", L"Height", L"Width"};
    if (save) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
            ERROR_SUCCESS)
            return;
        const RECT r = NormalPosition(control->Handle());
        const DWORD values[] = {static_cast<DWORD>(r.left), static_cast<DWORD>(r.top),
                                static_cast<DWORD>(r.bottom - r.top), static_cast<DWORD>(r.right - r.left)};
        for (int i = 0; i < 4; ++i)
            RegSetValueExW(handle, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]), sizeof(DWORD));
    } else {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
        for (int i = 0; i < 4; ++i) {
            DWORD type = 0, value = 0, size = sizeof value;
            if (RegQueryValueExW(handle, names[i], nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                    ERROR_SUCCESS ||
                type != REG_DWORD || size != sizeof value)
                continue;
            const int v = static_cast<std::int32_t>(value);
            if (i == 0) control->SetLeft(v);
            if (i == 1) control->SetTop(v);
            if (i == 2) control->SetHeight(v);
            if (i == 3) control->SetWidth(v);
        }
    }
    RegCloseKey(handle);
}

void TQXMainForm::StoreInIni(bool save) {
    const std::string_view key = PositionKey.view();
    const std::size_t ini = key.find(".ini\\");
    const std::string file = ProgramDirectory() + Utf8From1251(key.substr(0, ini + 4));
    auto store = NewObj<TIniFile>(file);
    store->Section = std::string(key.substr(ini + 5));
    static constexpr const char* names[] = {"Left", "Top", "Width", "Height"};
    if (save) {
        store->WriteMode = true;
        const RECT r = NormalPosition(control->Handle());
        const std::int32_t values[] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        for (int i = 0; i < 4; ++i) store->AccessInteger(names[i], values[i]);
        return;
    }
    for (int i = 0; i < 4; ++i) {
        const std::optional<std::int32_t> v = WellFormed(store->AccessString(names[i], ""));
        if (!v) continue;
        if (i == 0) control->SetLeft(*v);
        if (i == 1) control->SetTop(*v);
        if (i == 2) control->SetWidth(*v);
        if (i == 3) control->SetHeight(*v);
    }
}
