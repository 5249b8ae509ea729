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

bool EnsureLayerClass(const TClassDescriptor& kind, DWORD classStyle, WNDPROC& baseProc) {
    const std::wstring name = std::wstring(LayerClassPrefix) + kind.ClassName;
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
    wc.lpfnWndProc = TControl::WindowProc;
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
    AddHandler({TControl::ChildKindHandler, nullptr});
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
    app->afterCreateHook = {TControl::AdjustSystemMenu, nullptr};
    app->AddHandler({TControl::ApplicationKindHandler, nullptr});
    if (Layer().Application == nullptr) Layer().Application = app;
    return app;
}

TControl* TControl::NewForm(TControl* parent, std::string_view caption) {
    auto* form = new TControl(FormKind, parent != nullptr ? parent : Layer().Application);
    form->isForm_ = true;
    form->isChild_ = false;
    form->style_ = WS_OVERLAPPEDWINDOW | ClipBits;
    form->classStyle_ |= CS_DBLCLKS;
    form->visible_ = false;
    form->text_ = Widen1251(caption);
    form->AddHandler({TControl::FormKindHandler, nullptr});
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
    TControl::Forget(this);
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
        TControl::ForgetTree(child);
        child->parent_ = nullptr;
        child->Free();
    }
}

void TControl::WindowGone() {
    if (handle_ != nullptr && MessageOwner() == handle_) SetMessageOwner(nullptr);
    if (handle_ != nullptr) RemovePropW(handle_, SelfProperty);
    handle_ = nullptr;
    paintDC_ = nullptr;
    if (canvas_) canvas_->Release();
}

void TControl::FreeLater() {
    if (Destroying()) return;
    if (std::find(Layer().FreeLaterMarks.begin(), Layer().FreeLaterMarks.end(), this) == Layer().FreeLaterMarks.end())
        Layer().FreeLaterMarks.push_back(this);
    HWND target = Layer().Application != nullptr ? Layer().Application->handle_ : nullptr;
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
    const std::wstring className = std::wstring(LayerClassPrefix) + kind_.ClassName;
    const DWORD style = style_ | (enabled_ ? 0 : WS_DISABLED);

    TControl* const outer = std::exchange(Layer().Creating, this);
    HWND window = CreateWindowExW(exStyle_, className.c_str(), text_.c_str(), style, x, y, width, height,
                                  parent_ != nullptr ? parent_->handle_ : nullptr,
                                  isChild_ ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : nullptr,
                                  ProgramInstance(), nullptr);
    Layer().Creating = outer;
    if (window == nullptr) {
        handle_ = nullptr;
        return;
    }
    if (Freed()) return;  // the window goes with the object
    if (handle_ != window) TControl::Bind(this, window);
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
        } else if (Layer().Application != nullptr && Layer().Application->icon_ != nullptr) {
            SetIcon(GdiTrackIcon(static_cast<HICON>(CopyImage(Layer().Application->icon_, IMAGE_ICON, 0, 0, 0))), true);
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

void TControl::ClearHandlers() {
    messageHook = {};
    mouseDownHandler = mouseUpHandler = mouseMoveHandler = dblClickHandler = wheelHandler = {};
    keyDownHandler = keyUpHandler = charHandler = {};
    clickHandler = changeHandler = resizeHandler = showHandler = hideHandler = {};
    focusInHandler = focusOutHandler = {};
    paintHandler = {};
    closeQueryHandler = {};
    afterCreateHook = {};
}

void TControl::Click() {
    if (clickDepth_ > 0 || !clickHandler) return;
    ++clickDepth_;
    RefInc();  // the handler may free this control
    clickHandler(this);
    --clickDepth_;
    RefDec();
}

void TControl::Forget(TControl* control) {
    std::erase(Layer().FreeLaterMarks, control);
    if (Layer().Creating == control) Layer().Creating = nullptr;
    if (Layer().MainForm == control) Layer().MainForm = nullptr;
    if (Layer().Application == control) Layer().Application = nullptr;
    if (Layer().Application != nullptr && Layer().Application->currentControl_ == control) Layer().Application->currentControl_ = nullptr;
    if (TControl* form = control->parent_ != nullptr ? control->parent_->ParentForm() : nullptr; form != nullptr) {
        if (form->currentControl_ == control) form->currentControl_ = nullptr;
        if (form->defaultButton_ == control) MarkButton(control, false, false);
        if (form->cancelButton_ == control) MarkButton(control, false, true);
        if (form->ModalChild == control) form->ModalChild = nullptr;
    }
}

void TControl::ForgetTree(TControl* control) {
    Forget(control);
    for (TControl* child : control->children_) ForgetTree(child);
}
