// TControl: creation, properties, window creation and destruction.
#include "winlib/win32/control.h"

#include <algorithm>
#include <map>
#include <utility>

#include "winlib/msgbox.h"
#include "winlib/win32/gdi.h"
#include "winlib/win32/layer.h"
#include "winlib/win32/wintext.h"

namespace {

constexpr WORD None = 0xFFFF;
constexpr DWORD ClipBits = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

constexpr TClassDescriptor ApplicationKind{L"App", false, None, None, None, None, 0, 0, 0, 0, 0, 0};
constexpr TClassDescriptor FormKind{L"Form", false, None, None, None, None, 0, 0, 0, 0, 0, 0};
constexpr TClassDescriptor PaintBoxKind{L"", false, None, None, None, None, 0, 0, 0, 0, 0, 0};
// The click code of a button is tested first, so its change code never counts.
constexpr TClassDescriptor ButtonKind{L"BUTTON", true, BN_CLICKED, BN_SETFOCUS, BN_KILLFOCUS, 0,
                                      BS_LEFT, BS_RIGHT, BS_CENTER, BS_CENTER, 0, 0};
// An edit never sends notification 0, so it never clicks.
constexpr TClassDescriptor EditKind{L"EDIT", true, 0, EN_SETFOCUS, EN_KILLFOCUS, EN_CHANGE,
                                    ES_LEFT, ES_RIGHT, ES_CENTER, ES_LEFT | ES_RIGHT | ES_CENTER, EM_GETSEL, EM_SETSEL};
constexpr TClassDescriptor StaticKind{L"STATIC", true, STN_CLICKED, None, None, None,
                                      SS_LEFT, SS_RIGHT, SS_CENTER, SS_TYPEMASK, 0, 0};

int nextControlId = 0;
long liveControls = 0;

// Base window procedure per registered layer class.
std::map<std::wstring, WNDPROC>& RegisteredClasses() {
    static std::map<std::wstring, WNDPROC> classes;
    return classes;
}

// Edit options to edit styles.
DWORD EditStyle(std::uint32_t options) {
    DWORD style = 0;
    if (!(options & eoNoHScroll)) style |= WS_HSCROLL | ES_AUTOHSCROLL;
    if (!(options & eoNoVScroll)) style |= WS_VSCROLL | ES_AUTOVSCROLL;
    if (options & eoLowercase) style |= ES_LOWERCASE;
    if (options & eoMultiline) style |= ES_MULTILINE;
    if (options & eoNoHideSel) style |= ES_NOHIDESEL;
    if (options & eoOemConvert) style |= ES_OEMCONVERT;
    if (options & eoPassword) style |= ES_PASSWORD;
    if (options & eoReadonly) style |= ES_READONLY;
    if (options & eoUpperCase) style |= ES_UPPERCASE;
    if (options & eoWantReturn) style |= ES_WANTRETURN;
    if (!(options & eoMultiline)) style &= ~(WS_HSCROLL | WS_VSCROLL);
    return style;
}

}  // namespace

// A class of the layer: "obj_" + the kind's name, registered once, with the
// layer's window procedure. Other parts of the layer (the timer window) use it too.
bool EnsureLayerClass(const TClassDescriptor& kind, DWORD classStyle, WNDPROC& baseProc) {
    const std::wstring name = std::wstring(L"obj_") + kind.ClassName;
    auto& classes = RegisteredClasses();
    if (auto found = classes.find(name); found != classes.end()) {
        baseProc = found->second;
        return true;
    }
    WNDCLASSW wc{};
    WNDPROC base = DefWindowProcW;
    if (kind.StandardClass) {
        if (!GetClassInfoW(nullptr, kind.ClassName, &wc)) return false;
        base = wc.lpfnWndProc;
        wc.style &= ~(CS_OWNDC | CS_CLASSDC | CS_PARENTDC | CS_GLOBALCLASS);
    } else {
        wc.style = classStyle;
    }
    wc.lpfnWndProc = TLayer::WindowProc;
    wc.hInstance = ProgramInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = name.c_str();
    if (RegisterClassW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    classes.emplace(name, base);
    baseProc = base;
    return true;
}

bool EnsurePlainLayerClass() {
    WNDPROC base = nullptr;
    return EnsureLayerClass(PaintBoxKind, 0, base);
}

long TControl::LiveCount() { return liveControls; }

TControl::TControl(const TClassDescriptor& kind, TControl* parent) : kind_(kind) {
    ++liveControls;
    font_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Font);
    font_->OnChange = MethodOf<&TControl::FontChanged>(this);
    if (parent == nullptr) return;
    parent_ = parent;
    parent->children_.push_back(this);
    // A new control starts from its parent's look.
    margin_ = parent->margin_;
    ctl3D_ = parent->ctl3D_;
    textColor_ = parent->textColor_;
    color_ = parent->color_;
    font_->Follow(parent->font_.get());
    cursor_ = parent->cursor_;
    bounds_ = {margin_, margin_, margin_ + 64, margin_ + 64};
    tabOrder_ = static_cast<int>(parent->children_.size()) - 1;
}

TControl* TControl::FinishChild() {
    // Child windows: clipped, with the client edge in place of the border
    // line on 3D parents, numbered, and reporting through the layer.
    style_ |= ClipBits;
    if (ctl3D_ && (style_ & WS_BORDER)) {
        style_ &= ~WS_BORDER;
        exStyle_ |= WS_EX_CLIENTEDGE;
    }
    id_ = ++nextControlId;
    AddHandler({TLayer::ChildHandler, nullptr});
    tabStop_ = (style_ & WS_TABSTOP) != 0;
    if (tabStop_) {
        TControl* form = ParentForm();
        if (form != nullptr && form->currentControl_ == nullptr) form->currentControl_ = this;
    }
    return this;
}

TControl* TControl::NewApplication(std::string_view caption) {
    auto* app = new TControl(ApplicationKind, nullptr);
    app->isApplication_ = true;
    app->isChild_ = false;
    app->style_ = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // and visible
    app->exStyle_ = WS_EX_APPWINDOW;
    app->visible_ = true;
    app->positionSet_ = true;  // a zero-size window at 0, 0: it carries the taskbar button
    app->bounds_ = {0, 0, 0, 0};
    app->text_ = Widen1251(caption);
    app->afterCreateHook = {TLayer::AdjustSystemMenu, nullptr};
    app->AddHandler({TLayer::ApplicationHandler, nullptr});
    if (TLayer::application == nullptr) TLayer::application = app;
    return app;
}

TControl* TControl::NewForm(TControl* parent, std::string_view caption) {
    auto* form = new TControl(FormKind, parent != nullptr ? parent : TLayer::application);
    form->isForm_ = true;
    form->isChild_ = false;
    form->style_ = WS_OVERLAPPEDWINDOW | ClipBits;
    form->classStyle_ |= CS_DBLCLKS;
    form->visible_ = false;
    form->text_ = Widen1251(caption);
    form->AddHandler({TLayer::FormHandler, nullptr});
    return form;
}

TControl* TControl::NewLabel(TControl* parent, std::string_view text) {
    auto* label = new TControl(StaticKind, parent);
    label->style_ = WS_CHILD | SS_NOTIFY | SS_NOPREFIX | SS_LEFTNOWORDWRAP;
    label->text_ = Widen1251(text);
    label->bounds_.right = label->bounds_.left + 64;
    label->bounds_.bottom = label->bounds_.top + 22;
    return label->FinishChild();
}

TControl* TControl::NewEdit(TControl* parent, std::uint32_t options) {
    auto* edit = new TControl(EditKind, parent);
    edit->style_ = EditStyle(options) | WS_CHILD | WS_BORDER | WS_TABSTOP;
    const bool multiline = (options & eoMultiline) != 0;
    edit->bounds_.right = edit->bounds_.left + (multiline ? 200 : 100);
    edit->bounds_.bottom = edit->bounds_.top + (multiline ? 200 : 22);
    // A one-line edit keeps Left and Right for its caret.
    edit->navigationKeys_ = multiline ? nkTab : (nkTab | nkUpDown | nkPage);
    if (options & eoWantTab) edit->navigationKeys_ &= static_cast<std::uint8_t>(~nkTab);
    return edit->FinishChild();
}

TControl* TControl::NewButton(TControl* parent, std::string_view caption) {
    auto* button = new TControl(ButtonKind, parent);
    button->style_ = WS_CHILD | WS_TABSTOP | BS_PUSHLIKE | BS_CENTER;
    button->textAlign_ = 2;
    button->text_ = Widen1251(caption);
    button->bounds_.right = button->bounds_.left + 64;
    button->bounds_.bottom = button->bounds_.top + 22;
    return button->FinishChild();
}

TControl* TControl::NewPaintBox(TControl* parent) {
    auto* box = new TControl(PaintBoxKind, parent);
    box->style_ = WS_CHILD;
    return box->FinishChild();
}

TControl::~TControl() {
    TLayer::Forget(this);
    if (iconOwned_) GdiDestroyIcon(icon_);
    if (parent_ != nullptr) std::erase(parent_->children_, this);
    --liveControls;
}

void TControl::BeforeDestroy() {
    // The window first, while the object is whole: its messages, and those
    // of its children, still find a complete control.
    if (handle_ != nullptr) DestroyWindow(handle_);
    if (handle_ != nullptr) WindowGone();  // the window would not go; forget it anyway
    canvas_.reset();
    // The children's windows went with this one; their objects go now. Cut
    // off from here they could no longer find their form, so whatever names
    // them or the controls inside them is forgotten first.
    const std::vector<TControl*> children = std::exchange(children_, {});
    for (TControl* child : children) {
        TLayer::ForgetTree(child);
        child->parent_ = nullptr;
        child->Free();
    }
}

void TControl::WindowGone() {
    if (handle_ != nullptr && MessageOwner() == handle_) SetMessageOwner(nullptr);
    if (handle_ != nullptr) RemovePropW(handle_, L"SELF_");
    handle_ = nullptr;
    paintDC_ = nullptr;
    if (canvas_) canvas_->Release();
}

void TControl::FreeLater() {
    if (Destroying()) return;
    if (std::find(TLayer::freeLaterMarks.begin(), TLayer::freeLaterMarks.end(), this) == TLayer::freeLaterMarks.end())
        TLayer::freeLaterMarks.push_back(this);
    HWND target = TLayer::application != nullptr ? TLayer::application->handle_ : nullptr;
    if (target == nullptr || target == handle_) target = handle_;
    if (target != nullptr)
        PostMessageW(target, WM_FREE_LATER, 0, reinterpret_cast<LPARAM>(this));
    else
        PostThreadMessageW(GetCurrentThreadId(), WM_FREE_LATER, 0, reinterpret_cast<LPARAM>(this));
}

TControl* TControl::Child(int index) const {
    if (index < 0 || index >= ChildCount()) return nullptr;
    return children_[static_cast<std::size_t>(index)];
}

TControl* TControl::ParentForm() {
    TControl* c = this;
    while (c != nullptr && !c->isForm_) c = c->parent_;
    return c;
}

// --- Window creation ---

bool TControl::RegisterClassOnce() { return EnsureLayerClass(kind_, classStyle_, baseProc_); }

HWND TControl::GetWindowHandle() {
    if (handle_ == nullptr) CreateWindowNow();
    return handle_;
}

void TControl::CreateWindowNow() {
    if (Freed()) return;
    // Creation calls out to handlers, any of which may free this control.
    const TObjHold<TControl> self(this);
    if (handle_ != nullptr) {
        ApplyVisibility(false);
        return;
    }
    // A child waits for its parent's window; the parent's creation makes it.
    if (isChild_ && (parent_ == nullptr || parent_->handle_ == nullptr)) return;
    if (!isChild_ && parent_ != nullptr && parent_->handle_ == nullptr) {
        parent_->CreateWindowNow();
        if (handle_ != nullptr || parent_->handle_ == nullptr) return;
    }
    if (!RegisterClassOnce()) return;

    int x = bounds_.left, y = bounds_.top;
    int width = Width(), height = Height();
    if (!isChild_ && !positionSet_) x = y = CW_USEDEFAULT;
    if (width == 0) width = CW_USEDEFAULT;
    if (height == 0) height = CW_USEDEFAULT;
    const std::wstring className = std::wstring(L"obj_") + kind_.ClassName;
    const DWORD style = style_ | (enabled_ ? 0 : WS_DISABLED);

    TControl* const outer = std::exchange(TLayer::creating, this);
    HWND window = CreateWindowExW(exStyle_, className.c_str(), text_.c_str(), style, x, y, width, height,
                                  parent_ != nullptr ? parent_->handle_ : nullptr,
                                  isChild_ ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : nullptr,
                                  ProgramInstance(), nullptr);
    TLayer::creating = outer;
    if (window == nullptr) {
        handle_ = nullptr;
        return;
    }
    if (Freed()) return;  // the window goes with the object
    if (handle_ != window) TLayer::Bind(this, window);
    // Message boxes of the elements belong to the application's window.
    if (isApplication_) SetMessageOwner(window);
    ReadBoundsFromWindow();
    SendMessageW(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);

    if (!isChild_) {
        if (icon_ != nullptr) {
            SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        } else if (isApplication_) {
            // Shared resource icon: never destroyed by us.
            SetIcon(LoadIconW(ProgramInstance(), L"MAINICON"), false);
        } else if (TLayer::application != nullptr && TLayer::application->icon_ != nullptr) {
            SetIcon(GdiTrackIcon(static_cast<HICON>(CopyImage(TLayer::application->icon_, IMAGE_ICON, 0, 0, 0))), true);
        }
    }
    if (afterCreateHook) afterCreateHook(this);
    if (Freed() || handle_ == nullptr) return;
    ApplyFont();
    for (const TObjHold<TControl>& child : HeldChildren())
        if (child->parent_ == this && !Freed()) child->CreateWindowNow();
    if (!Freed()) ApplyVisibility(true);
}

std::vector<TObjHold<TControl>> TControl::HeldChildren() const {
    std::vector<TObjHold<TControl>> held;
    held.reserve(children_.size());
    for (TControl* child : children_) held.emplace_back(child);
    return held;
}

// Windows are made hidden; the recorded visibility is applied afterwards.
void TControl::ApplyVisibility(bool atCreation) {
    if (handle_ == nullptr) return;
    const bool shown = (GetWindowLongPtrW(handle_, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown == visible_) return;
    if (!visible_)
        ShowWindow(handle_, SW_HIDE);
    else
        ShowWindow(handle_, atCreation && !isChild_ ? SW_SHOWNA : SW_SHOW);
}

void TControl::ApplyFont() {
    textColor_ = font_->Color();
    // The canvas stays: a paint handler may be drawing on it right now, and
    // its font follows this one by itself.
    if (handle_ != nullptr) SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_->Handle()), TRUE);
}

void TControl::FontChanged(TGraphicTool*) {
    ApplyFont();
    FitToText();
    Invalidate();
}

void TControl::SetAutoSize(bool on) {
    autoSize_ = on;
    FitToText();
}

void TControl::FitToText() {
    if (!autoSize_) return;
    const SIZE text = Canvas()->TextExtent(Text());
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, Style(), FALSE, ExStyle());
    canvas_->Release();
    SetBounds({bounds_.left, bounds_.top, bounds_.left + text.cx + (frame.right - frame.left),
               bounds_.top + text.cy + (frame.bottom - frame.top)});
}

// --- Geometry ---

void TControl::ReadBoundsFromWindow() {
    if (handle_ == nullptr) return;
    RECT r{};
    GetWindowRect(handle_, &r);
    if (isChild_ && parent_ != nullptr && parent_->handle_ != nullptr)
        MapWindowPoints(nullptr, parent_->handle_, reinterpret_cast<POINT*>(&r), 2);
    bounds_ = r;
}

void TControl::SetBounds(const RECT& bounds) {
    const RECT old = bounds_;
    bounds_ = bounds;
    if (handle_ != nullptr)
        SetWindowPos(handle_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (old.left != bounds.left || old.top != bounds.top || old.right != bounds.right || old.bottom != bounds.bottom) {
        if (parent_ != nullptr && align_ != 0) parent_->RealignChildren();
    }
}

void TControl::SetLeft(int left) {
    positionSet_ = true;
    SetBounds({left, bounds_.top, left + Width(), bounds_.bottom});
}

void TControl::SetTop(int top) {
    positionSet_ = true;
    SetBounds({bounds_.left, top, bounds_.right, top + Height()});
}

void TControl::SetPosition(int left, int top) {
    positionSet_ = true;
    SetBounds({left, top, left + Width(), top + Height()});
}

void TControl::SetWidth(int width) { SetBounds({bounds_.left, bounds_.top, bounds_.left + width, bounds_.bottom}); }
void TControl::SetHeight(int height) { SetBounds({bounds_.left, bounds_.top, bounds_.right, bounds_.top + height}); }

void TControl::SetClientSize(int width, int height) {
    int extraX = 0, extraY = 0;
    if (handle_ != nullptr) {
        RECT window{}, client{};
        GetWindowRect(handle_, &window);
        GetClientRect(handle_, &client);
        extraX = (window.right - window.left) - client.right;
        extraY = (window.bottom - window.top) - client.bottom;
    } else {
        RECT r{0, 0, 0, 0};
        AdjustWindowRectEx(&r, style_, FALSE, exStyle_);
        extraX = r.right - r.left;
        extraY = r.bottom - r.top;
    }
    SetBounds({bounds_.left, bounds_.top, bounds_.left + width + extraX, bounds_.top + height + extraY});
}

RECT TControl::ClientRect() {
    RECT r{0, 0, Width(), Height()};
    if (handle_ != nullptr) GetClientRect(handle_, &r);
    return r;
}

void TControl::SetMargin(int margin) {
    if (margin == margin_) return;
    margin_ = margin;
    RealignChildren();
}

void TControl::SetAlign(std::uint8_t align) {
    if (align == align_) return;
    align_ = align;
    if (parent_ != nullptr) parent_->RealignChildren();
}

// Docked children: top and bottom first, then left and right, then the one
// that takes what remains; each pass in creation order.
void TControl::RealignChildren() {
    if (aligning_ || Freed()) return;
    if (std::none_of(children_.begin(), children_.end(), [](TControl* c) { return c->align_ != 0; })) return;
    // Moving a child runs its resize handlers, which may free controls.
    const TObjHold<TControl> self(this);
    aligning_ = true;
    RECT client = ClientRect();
    RECT r{client.left + margin_, client.top + margin_, client.right - margin_, client.bottom - margin_};
    auto place = [](TControl* child, const RECT& to) {
        const RECT from = child->bounds_;
        if (from.left == to.left && from.top == to.top && from.right == to.right && from.bottom == to.bottom) return;
        const bool resized = (from.right - from.left) != (to.right - to.left) || (from.bottom - from.top) != (to.bottom - to.top);
        child->SetBounds(to);
        if (resized) child->RealignChildren();
    };
    for (int pass = 0; pass < 3 && !Freed(); ++pass) {
        for (const TObjHold<TControl>& held : HeldChildren()) {
            TControl* child = held.get();
            if (Freed()) break;
            if (child->Freed() || child->parent_ != this || !child->visible_ || child->isForm_) continue;
            const std::uint8_t a = child->align_;
            if (pass == 0 && a == 2) {
                place(child, {r.left, r.top, r.right, r.top + child->Height()});
                r.top += child->Height() + margin_;
            } else if (pass == 0 && a == 4) {
                place(child, {r.left, r.bottom - child->Height(), r.right, r.bottom});
                r.bottom -= child->Height() + margin_;
            } else if (pass == 1 && a == 1) {
                place(child, {r.left, r.top, r.left + child->Width(), r.bottom});
                r.left += child->Width() + margin_;
            } else if (pass == 1 && a == 3) {
                place(child, {r.right - child->Width(), r.top, r.right, r.bottom});
                r.right -= child->Width() + margin_;
            } else if (pass == 2 && a == 5) {
                place(child, r);
            }
        }
    }
    aligning_ = false;
}

// --- Text ---

std::string TControl::Text() const {
    if (handle_ == nullptr) return Narrow1251(text_);
    const int length = GetWindowTextLengthW(handle_);
    if (length <= 0) return std::string();
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int n = GetWindowTextW(handle_, buffer.data(), length + 1);
    buffer.resize(static_cast<std::size_t>(std::clamp(n, 0, length)));
    return Narrow1251(buffer);
}

void TControl::SetText(std::string_view text) {
    text_ = Widen1251(text);
    if (handle_ != nullptr) SetWindowTextW(handle_, text_.c_str());
    FitToText();
}

// --- State ---

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (handle_ != nullptr) ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE);
    if (parent_ != nullptr) parent_->RealignChildren();
    if (visible) RealignChildren();
}

void TControl::Show() {
    visible_ = true;
    CreateWindowNow();
    if (handle_ == nullptr) return;
    ShowWindow(handle_, SW_SHOW);
    SetForegroundWindow(handle_);
    Focus();
}

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (handle_ != nullptr) EnableWindow(handle_, enabled);
}

int TControl::WindowState() {
    if (handle_ != nullptr) windowState_ = IsIconic(handle_) ? 1 : IsZoomed(handle_) ? 2 : 0;
    return windowState_;
}

void TControl::SetWindowState(int state) {
    static constexpr int commands[] = {SW_SHOWNOACTIVATE, SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED};
    if (state < 0 || state > 2) return;
    windowState_ = state;
    if (handle_ != nullptr) ShowWindow(handle_, commands[state]);
}

DWORD TControl::Style() const {
    if (handle_ != nullptr) return static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_STYLE));
    return style_ | (visible_ ? WS_VISIBLE : 0) | (enabled_ ? 0 : WS_DISABLED);
}

// Visibility and the disabled state have operations of their own; a style
// written here does not change them.
void TControl::SetStyle(DWORD style) {
    style_ = style & ~(WS_VISIBLE | WS_DISABLED);
    if (handle_ == nullptr) return;
    const DWORD now = static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_STYLE));
    const DWORD kept = now & (WS_VISIBLE | WS_DISABLED);
    if ((style_ | kept) == now) return;  // a frame change costs a round trip to the display
    SetWindowLongPtrW(handle_, GWL_STYLE, static_cast<LONG_PTR>(style_ | kept));
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

DWORD TControl::ExStyle() const {
    if (handle_ != nullptr) return static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_EXSTYLE));
    return exStyle_;
}

void TControl::SetExStyle(DWORD exStyle) {
    exStyle_ = exStyle;
    if (handle_ == nullptr || static_cast<DWORD>(GetWindowLongPtrW(handle_, GWL_EXSTYLE)) == exStyle) return;
    SetWindowLongPtrW(handle_, GWL_EXSTYLE, static_cast<LONG_PTR>(exStyle));
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- Appearance ---

void TControl::SetColor(TColor color) {
    color_ = color;
    brush_.reset();
    if (canvas_) canvas_->Brush()->SetColor(color);
    Invalidate();
}

void TControl::SetTextColor(TColor color) { font_->SetColor(color); }

HBRUSH TControl::BackgroundBrush() {
    if (parent_ != nullptr && parent_->color_ == color_) return parent_->BackgroundBrush();
    if (!brush_) brush_ = NewObj<TGraphicTool>(TGraphicTool::TKind::Brush);
    brush_->SetColor(color_);
    return static_cast<HBRUSH>(brush_->Handle());
}

void TControl::FillBackground(HDC dc, const RECT& rect) {
    if (dc == nullptr) return;
    SetBrushOrgEx(dc, 0, 0, nullptr);
    ::FillRect(dc, &rect, BackgroundBrush());
}

TCanvas* TControl::Canvas() {
    if (!canvas_) canvas_ = NewObj<TCanvas>(this);
    return canvas_.get();
}

void TControl::SetCursor(HCURSOR cursor) {
    cursor_ = cursor;
    if (handle_ == nullptr || cursor == nullptr) return;
    POINT p{};
    RECT client{};
    GetCursorPos(&p);
    ScreenToClient(handle_, &p);
    GetClientRect(handle_, &client);
    if (PtInRect(&client, p) && WindowFromPoint(p) == handle_) ::SetCursor(cursor);
}

void TControl::SetIcon(HICON icon, bool owned) {
    if (icon == icon_) {
        iconOwned_ = iconOwned_ || owned;
        return;
    }
    const HICON old = std::exchange(icon_, icon);
    const bool oldOwned = std::exchange(iconOwned_, owned);
    if (handle_ != nullptr) SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (oldOwned) GdiDestroyIcon(old);
}

void TControl::SetTextAlign(std::uint8_t align) {
    if (align > 2) return;
    textAlign_ = align;
    const DWORD bits[] = {kind_.AlignLeft, kind_.AlignRight, kind_.AlignCentre};
    DWORD style = Style();
    if (kind_.ClassName == std::wstring_view(L"STATIC")) {
        // A static's alignment is its type: a text static becomes the left,
        // right or centred text type (every other style bit stays); an icon,
        // bitmap or frame keeps its type, which alignment bits would corrupt.
        const DWORD type = style & SS_TYPEMASK;
        const bool text = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP;
        if (!text) return;
        style = (style & ~SS_TYPEMASK) | bits[align];
    } else {
        style = (style & ~kind_.AlignMask) | bits[align];
    }
    SetStyle(style);
    Invalidate();
}

void TControl::SetTransparent(bool transparent) {
    transparent_ = transparent;
    if (transparent && parent_ != nullptr) parent_->transparentChildren_ = true;
    Invalidate();
}

void TControl::Invalidate() {
    if (handle_ != nullptr) InvalidateRect(handle_, nullptr, TRUE);
}

// --- Focus ---

void TControl::SetTabOrder(int position) {
    if (parent_ != nullptr)
        for (TControl* sibling : parent_->children_)
            if (sibling != this && sibling->tabOrder_ >= position) ++sibling->tabOrder_;
    tabOrder_ = position;
}

bool TControl::Focus() {
    if (handle_ == nullptr || !enabled_ || !tabStop_) return false;
    SetFocus(handle_);
    return true;
}

void TControl::SetDefaultButton(bool on) { TLayer::MarkButton(this, on, false); }
void TControl::SetCancelButton(bool on) { TLayer::MarkButton(this, on, true); }

void TControl::Click() {
    if (clickDepth_ > 0 || !clickHandler) return;
    ++clickDepth_;
    RefInc();  // the handler may free this control
    clickHandler(this);
    --clickDepth_;
    RefDec();
}

// --- Selection ---

int TControl::SelectionStart() {
    if (handle_ == nullptr || kind_.GetSelectionMessage == 0) return 0;
    DWORD start = 0, end = 0;
    SendMessageW(handle_, kind_.GetSelectionMessage, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(start);
}

void TControl::SetSelection(int start, int length) {
    if (handle_ == nullptr || kind_.SetSelectionMessage == 0) return;
    SendMessageW(handle_, kind_.SetSelectionMessage, static_cast<WPARAM>(start), static_cast<LPARAM>(start + length));
}

void TControl::RemoveHandler(TChainHandler handler) { std::erase(chain_, handler); }
