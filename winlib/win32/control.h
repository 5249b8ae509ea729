#pragma once
// TControl: one object per window. The application window, forms and child
// controls (static text, edit, button, and the plain child of panels and
// images) are all TControls; the visual elements own them and talk to them
// through the operations and handler slots below. One window procedure
// serves every window of the layer, and the layer owns the message loop.
//
// Texts are Windows-1251 bytes on this side; the layer speaks to Windows
// through the wide API.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "winlib/method.h"
#include "winlib/obj.h"
#include "winlib/win32/graphics.h"

class TControl;

// One message as the window procedure got it.
struct TMsg {
    HWND Window;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
};

// What the mouse handlers get for every mouse message.
struct MouseEventRecord {
    std::uint8_t Button = 0;      // 0 none, 1 left, 2 right, 3 middle
    bool StopHandling = false;    // set by a handler: the message is handled
    std::uint32_t Shift = 0;      // key-state word, plus 0x20 while Alt is down
    std::int16_t X = 0;
    std::int16_t Y = 0;
};

// Handler slots.
using TMessageHook = TMethod<bool(TMsg& msg, LRESULT& result)>;  // true: handled
using TMouseHandler = TMethod<void(TControl* sender, MouseEventRecord& mouse)>;
using TKeyHandler = TMethod<void(TControl* sender, int& key, std::uint32_t shift)>;  // key 0: swallowed
using TNotifyHandler = TMethod<void(TControl* sender)>;
using TPaintHandler = TMethod<void(TControl* sender, HDC dc)>;
using TCloseQueryHandler = TMethod<void(TControl* sender, bool& accept)>;
using TChainHandler = TMethod<bool(TControl* sender, TMsg& msg, LRESULT& result)>;

// Private messages of the layer.
enum : UINT {
    WM_FREE_LATER = 0xB003,       // frees a control the layer marked
    WM_REFLECTED_COMMAND = 0xB005, // a child's command, sent back to the child
    WM_REFLECTED_COLOR = 0xBC00,   // added to a child's colour message
};

// Edit options, translated to edit styles at creation.
enum : std::uint32_t {
    eoNoHScroll = 0x001,
    eoNoVScroll = 0x002,
    eoLowercase = 0x004,
    eoMultiline = 0x008,
    eoNoHideSel = 0x010,
    eoOemConvert = 0x020,
    eoPassword = 0x040,
    eoReadonly = 0x080,
    eoUpperCase = 0x100,
    eoWantReturn = 0x200,
    eoWantTab = 0x400,
};

// Key groups of the form's keyboard navigation.
enum : std::uint8_t {
    nkTab = 1,
    nkLeftRight = 2,
    nkUpDown = 4,
    nkPage = 8,
};

// How one kind of control works; copied into the control when it is made.
struct TClassDescriptor {
    const wchar_t* ClassName;  // "App", "Form", "STATIC", "EDIT", "BUTTON", or ""
    bool StandardClass;        // based on a standard Windows class
    // Notification codes; 0xFFFF: the kind has none.
    WORD ClickCode, FocusInCode, FocusOutCode, ChangeCode;
    // Style bits for left, right and centred text, and the bits they replace.
    DWORD AlignLeft, AlignRight, AlignCentre, AlignMask;
    UINT GetSelectionMessage, SetSelectionMessage;  // 0: none
};

class TControl final : public TObj {
public:
    // --- Creation. The window is made later (CreateWindowNow, Handle). ---
    static TControl* NewApplication(std::string_view caption);
    static TControl* NewForm(TControl* parent, std::string_view caption);
    static TControl* NewLabel(TControl* parent, std::string_view text);
    static TControl* NewEdit(TControl* parent, std::uint32_t options);
    static TControl* NewButton(TControl* parent, std::string_view caption);
    // A plain child window of the layer's own class (panels, images).
    static TControl* NewPaintBox(TControl* parent);

    // --- Identity and tree ---
    HWND Handle() const { return handle_; }  // 0 while there is no window
    HWND GetWindowHandle();                  // makes the window when needed
    std::wstring_view ClassName() const { return kind_.ClassName; }
    const TClassDescriptor& Descriptor() const { return kind_; }
    int ControlId() const { return id_; }
    bool IsApplication() const { return isApplication_; }
    bool IsForm() const { return isForm_; }
    bool IsChild() const { return isChild_; }
    TControl* Parent() const { return parent_; }
    int ChildCount() const { return static_cast<int>(children_.size()); }
    TControl* Child(int index) const;
    TControl* ParentForm();  // the nearest form at or above this control
    TControl* CurrentControl() const { return currentControl_; }
    void SetCurrentControl(TControl* control) { currentControl_ = control; }
    TControl* ModalChild = nullptr;  // a form shown modally over this one
    int ModalResult = 0;

    // --- Geometry (in the parent's client coordinates) ---
    int Left() const { return bounds_.left; }
    int Top() const { return bounds_.top; }
    int Width() const { return bounds_.right - bounds_.left; }
    int Height() const { return bounds_.bottom - bounds_.top; }
    void SetLeft(int left);
    void SetTop(int top);
    void SetWidth(int width);
    void SetHeight(int height);
    void SetPosition(int left, int top);
    void SetBounds(const RECT& bounds);
    RECT BoundsRect() const { return bounds_; }
    void SetClientSize(int width, int height);
    RECT ClientRect();
    int Margin() const { return margin_; }
    void SetMargin(int margin);
    std::uint8_t Align() const { return align_; }
    void SetAlign(std::uint8_t align);

    // --- Text ---
    std::string Text() const;
    void SetText(std::string_view text);

    // --- State ---
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    void Show();  // makes the window, shows it in the foreground, focuses it
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int WindowState();  // 0 normal, 1 minimised, 2 maximised
    void SetWindowState(int state);
    DWORD Style() const;
    void SetStyle(DWORD style);
    DWORD ExStyle() const;
    void SetExStyle(DWORD exStyle);
    DWORD ClassStyle() const { return classStyle_; }
    void SetClassStyle(DWORD style) { classStyle_ = style; }
    bool Ctl3D() const { return ctl3D_; }

    // --- Appearance ---
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TColor TextColor() const { return textColor_; }
    void SetTextColor(TColor color);
    TGraphicTool* Font() { return font_.get(); }
    HBRUSH BackgroundBrush();
    TCanvas* Canvas();
    HDC PaintDC() const { return paintDC_; }
    HCURSOR Cursor() const { return cursor_; }
    void SetCursor(HCURSOR cursor);
    HICON Icon() const { return icon_; }
    // The control owns a copy it made itself; a shared resource icon is never destroyed.
    void SetIcon(HICON icon, bool owned = false);
    // On: the control is refitted to its text whenever the text or the font changes.
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    std::uint8_t TextAlign() const { return textAlign_; }
    void SetTextAlign(std::uint8_t align);  // 0 left, 1 right, 2 centred
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent);
    bool HasTransparentChildren() const { return transparentChildren_; }
    void Invalidate();
    // Fills `rect` with the control's background, as the layer erases it.
    void FillBackground(HDC dc, const RECT& rect);

    // --- Keyboard focus and navigation ---
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int position);
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool tabStop) { tabStop_ = tabStop; }
    std::uint8_t NavigationKeys() const { return navigationKeys_; }
    void SetNavigationKeys(std::uint8_t keys) { navigationKeys_ = keys; }
    bool Focus();
    bool Focused() const { return handle_ != nullptr && GetFocus() == handle_; }
    // On a form: Tab, arrow and page keys move the focus between its controls.
    void InstallNavigation() { navigation_ = true; }
    // On a button: Enter (default) or Escape (cancel) anywhere in its form clicks it.
    void SetDefaultButton(bool on);
    void SetCancelButton(bool on);
    // Runs clickHandler, unless it is already running for this control.
    void Click();

    // --- Selection (edits) ---
    int SelectionStart();
    void SetSelection(int start, int length);

    // --- Handler slots ---
    TMessageHook messageHook;
    TMouseHandler mouseDownHandler, mouseUpHandler, mouseMoveHandler, dblClickHandler, wheelHandler;
    TKeyHandler keyDownHandler, keyUpHandler, charHandler;
    TNotifyHandler clickHandler, changeHandler, resizeHandler, showHandler, hideHandler;
    TNotifyHandler focusInHandler, focusOutHandler;
    TPaintHandler paintHandler;
    TCloseQueryHandler closeQueryHandler;
    TNotifyHandler afterCreateHook;
    // Empties every slot above at once: whoever set them is going.
    void ClearHandlers();
    void AddHandler(TChainHandler handler) { chain_.push_back(handler); }
    void RemoveHandler(TChainHandler handler);

    // --- Windows ---
    // Makes the window (and the windows of the children) when it can; with
    // the window present only a pending visibility is applied.
    void CreateWindowNow();
    // The window procedure of every window of the layer's classes; it hands
    // every message to Dispatch, which decides who sees it in which order.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(TMsg& msg);
    LRESULT DefaultProcessing(const TMsg& msg);

    // Marks the control and posts the private "free later" message.
    void FreeLater();

    // Controls alive now (for leak checks).
    static long LiveCount();

protected:
    ~TControl() override;
    void BeforeDestroy() override;

private:
    TControl(const TClassDescriptor& kind, TControl* parent);
    // What every child control gets on top of its kind (see NewLabel ...).
    TControl* FinishChild();

    bool BuiltIn(TMsg& msg, LRESULT& result);
    bool HandleKeys(TMsg& msg, LRESULT& result);
    bool HandleMouse(TMsg& msg, LRESULT& result);
    bool HandlePaint(TMsg& msg, LRESULT& result);
    bool HandleShowWindow(TMsg& msg, LRESULT& result);
    bool HandleClose(LRESULT& result);
    void WindowGone();
    void ApplyVisibility(bool atCreation);
    bool RegisterClassOnce();
    void ApplyFont();
    void FontChanged(TGraphicTool* font);
    void ReadBoundsFromWindow();
    void FitToText();
    void RealignChildren();
    // The children now, each held: a loop that calls out survives a
    // handler that frees one of them (it then checks Freed and the parent).
    std::vector<TObjHold<TControl>> HeldChildren() const;

    // The control bound to a layer window, or nullptr (dispatch.cpp).
    static TControl* ControlOf(HWND window);
    static void Bind(TControl* control, HWND window);

    // What each kind of control does with its messages (kinds.cpp).
    static bool ChildKindHandler(void*, TControl* control, TMsg& msg, LRESULT& result);
    static bool FormKindHandler(void*, TControl* form, TMsg& msg, LRESULT& result);
    static bool ApplicationKindHandler(void*, TControl* application, TMsg& msg, LRESULT& result);
    static void AdjustSystemMenu(void*, TControl* application);

    // Tab, arrow and page keys; default and cancel buttons (navigation.cpp).
    static void Navigate(TControl* focused, int& key, UINT message);
    static void MoveFocus(TControl* form, bool forwards);
    static void CollectTabStops(TControl* control, std::vector<TControl*>& out);
    static void MarkButton(TControl* button, bool on, bool cancel);
    static bool DefaultButtonFilter(void*, TMsg& msg, LRESULT& result);

    // Called when a control goes: no reference of the layer, its forms'
    // included, may outlive it; the second also for every control inside.
    static void Forget(TControl* control);
    static void ForgetTree(TControl* control);

    TClassDescriptor kind_;

    HWND handle_ = nullptr;
    int id_ = 0;
    bool isApplication_ = false, isForm_ = false, isChild_ = true, ctl3D_ = true;
    TControl* parent_ = nullptr;
    std::vector<TControl*> children_;  // creation order
    TControl* currentControl_ = nullptr;

    RECT bounds_{};
    bool positionSet_ = false;
    int margin_ = 2;
    std::uint8_t align_ = 0;
    bool aligning_ = false;

    DWORD style_ = 0, exStyle_ = 0, classStyle_ = 0;
    std::wstring text_;
    TColor textColor_ = clWindowText;
    TColor color_ = clBtnFace;
    TObjPtr<TGraphicTool> font_;
    TObjPtr<TGraphicTool> brush_;  // made when the colour differs from the parent's
    TObjPtr<TCanvas> canvas_;
    HDC paintDC_ = nullptr;
    HCURSOR cursor_ = nullptr;
    HICON icon_ = nullptr;
    bool iconOwned_ = false;
    std::uint8_t textAlign_ = 0;
    bool autoSize_ = false;
    bool transparent_ = false, transparentChildren_ = false;

    bool visible_ = true, enabled_ = true, tabStop_ = false;
    std::uint8_t navigationKeys_ = nkTab | nkLeftRight | nkUpDown | nkPage;
    int tabOrder_ = 0;
    int windowState_ = 0;
    int parentShowCommand_ = 0;  // remembered while the parent is minimised
    int clickDepth_ = 0;  // a click handler that clicks again is not re-entered
    bool navigation_ = false;
    // A click on a control of the layer's own class: pressed inside, with the
    // mouse captured until the release.
    bool mousePressed_ = false;
    bool releaseClicks_ = false;  // the release being handled ends a press
    TControl* defaultButton_ = nullptr;  // on a form
    TControl* cancelButton_ = nullptr;

    std::vector<TChainHandler> chain_;
    WNDPROC baseProc_ = nullptr;
};

// --- The application ---

// The application window (the first form makes it), or nullptr.
TControl* Application();
// The application's main form: its close ends the program.
TControl* MainForm();
void SetMainForm(TControl* form);
bool ApplicationRunning();
bool ApplicationTerminated();
// Runs the message loop until a quit message or Terminate; then terminates.
void RunApplication();
// Ends the loop and frees the application window.
void TerminateApplication();
// Hooks of the loop: every message first (true: consumed), and once after
// each batch of waiting messages.
extern TMethod<bool(MSG& msg)> PreTranslateHook;
extern TNotifyHandler IdleHook;
// What a system shutdown calls after terminating; exits the process.
extern void (*HaltProgram)(int exitCode);
// The handle of the program module (the exe).
HINSTANCE ProgramInstance();
// InitCommonControls, then InitCommonControlsEx with `classes` where the
// system has it.
void InitCommonControlsFor(DWORD classes);

// Live windows of this thread, the hidden ones and their children included.
int CountThreadWindows();
