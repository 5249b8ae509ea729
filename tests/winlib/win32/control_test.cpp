// The window layer on real windows: creation, keyboard navigation, closing,
// freeing, forged messages and Russian text.
#include "winlib/win32/control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/window_fixture.h"
#include "winlib/messageloop.h"
#include "winlib/timer.h"

namespace {

using TControlTest = TWindowTest;

RECT WindowRectInParent(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(TControlTest, CreationDefaultsStylesAndOrder) {
    TControl* form = TControl::NewForm(nullptr, "form");
    struct TCase {
        const char* name;
        TControl* control;
        int width, height;
        DWORD style, exStyle;
    };
    // Made before the form has a window: they wait for it.
    const std::vector<TCase> cases = {
        {"label", TControl::NewLabel(form, "label"), 64, 22, 0x5600018C, 0},
        {"edit", TControl::NewEdit(form, 0), 100, 22, 0x560100C0, WS_EX_CLIENTEDGE},
        {"button", TControl::NewButton(form, "button"), 64, 22, 0x56011300, 0},
        {"paint box", TControl::NewPaintBox(form), 64, 64, 0x56000000, 0},
    };
    for (const TCase& c : cases) EXPECT_EQ(c.control->Handle(), nullptr) << c.name;
    form->SetWidth(0);  // the system's default width
    form->SetHeight(300);
    form->CreateWindowNow();
    ASSERT_NE(form->Handle(), nullptr);
    EXPECT_GT(form->Width(), 0);
    EXPECT_EQ(GetWindowLongPtrW(form->Handle(), GWL_STYLE), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS);
    EXPECT_EQ(GetWindowLongPtrW(form->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), App()->Handle());

    int previousId = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        HWND w = c.control->Handle();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(GetParent(w), form->Handle());
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(w, GWL_STYLE)), c.style);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(w, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE, c.exStyle);
        const RECT r = WindowRectInParent(w);
        EXPECT_EQ(r.right - r.left, c.width);
        EXPECT_EQ(r.bottom - r.top, c.height);
        // Numbered in creation order; the number is the child window id.
        EXPECT_GT(c.control->ControlId(), previousId);
        EXPECT_EQ(GetDlgCtrlID(w), c.control->ControlId());
        previousId = c.control->ControlId();
    }

    // Geometry set before and after the window exists lands on the window.
    TControl* late = TControl::NewButton(form, "late");
    late->SetPosition(10, 20);
    late->SetWidth(90);
    late->CreateWindowNow();
    late->SetHeight(40);
    const RECT r = WindowRectInParent(late->Handle());
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 90);
    EXPECT_EQ(r.bottom - r.top, 40);
    EXPECT_EQ(late->Left(), 10);
    EXPECT_EQ(late->Height(), 40);
}

// Tab order with wrap-around, disabled and hidden controls skipped; a one-line
// edit keeps Left and Right for its caret; Enter clicks the default button.
TEST_F(TControlTest, KeyboardMovesFocusAndEnterClicksTheDefaultButton) {
    TControl* form = TControl::NewForm(nullptr, "keys");
    form->SetBounds({100, 100, 400, 400});
    form->InstallNavigation();
    TControl* edit = TControl::NewEdit(form, 0);
    TControl* disabled = TControl::NewButton(form, "disabled");
    TControl* ok = TControl::NewButton(form, "ok");
    TControl* hidden = TControl::NewEdit(form, 0);
    TControl::NewLabel(form, "label");
    TControl* last = TControl::NewButton(form, "last");
    for (int i = 0; i < form->ChildCount(); ++i) form->Child(i)->SetTop(10 + 30 * i);
    disabled->SetEnabled(false);
    hidden->SetVisible(false);
    edit->SetText("abcd");
    int clicks = 0;
    ok->clickHandler = {[](void* n, TControl*) { ++*static_cast<int*>(n); }, &clicks};
    ok->SetDefaultButton(true);

    RunInsideLoop([&] {
        Activate(form);
        const struct {
            const char* name;
            TControl* from;
            WORD key;
            bool shift;
            TControl* to;
        } moves[] = {
            {"Tab skips the disabled button", edit, VK_TAB, false, ok},
            {"Tab skips the hidden edit and the label", ok, VK_TAB, false, last},
            {"Tab wraps to the first", last, VK_TAB, false, edit},
            {"Shift+Tab wraps to the last", edit, VK_TAB, true, last},
            {"Shift+Tab skips the disabled button", ok, VK_TAB, true, edit},
            {"Down leaves the edit", edit, VK_DOWN, false, ok},
            {"Up leaves the edit", edit, VK_UP, false, last},
            {"Right stays in the edit", edit, VK_RIGHT, false, edit},
        };
        for (const auto& m : moves) {
            SCOPED_TRACE(m.name);
            ASSERT_TRUE(m.from->Focus());
            Pump();
            PressKey(m.key, m.shift);
            EXPECT_EQ(GetFocus(), m.to->Handle());
            EXPECT_EQ(form->CurrentControl(), m.to);
        }
        EXPECT_EQ(edit->Text(), "abcd");  // no Tab character typed on the way

        // The caret, as the edit reports it.
        edit->Focus();
        edit->SetSelection(0, 0);
        const std::pair<WORD, DWORD> caretMoves[] = {{VK_RIGHT, 1}, {VK_RIGHT, 2}, {VK_LEFT, 1}};
        for (const auto& [key, caret] : caretMoves) {
            PressKey(key);
            DWORD start = 0;
            SendMessageW(edit->Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
            EXPECT_EQ(start, caret);
        }
        EXPECT_EQ(GetFocus(), edit->Handle());

        // One click per press, however long the key repeats.
        const int repeats[] = {0, 3, 0};
        for (int i = 0; i < 3; ++i) {
            PressKey(VK_RETURN, false, repeats[i]);
            EXPECT_EQ(clicks, i + 1) << "press " << i << " with " << repeats[i] << " repeats";
        }
        EXPECT_EQ(GetFocus(), edit->Handle());
    });
}

// A vetoed close keeps the loop running; minimising the main form minimises
// the application; a shutdown halts at once, without the close protocol.
TEST_F(TControlTest, CloseVetoMinimiseAndShutdown) {
    TControl* form = TControl::NewForm(nullptr, "main");
    SetMainForm(form);
    int asked = 0;
    form->closeQueryHandler = {[](void* n, TControl*, bool& accept) { accept = ++*static_cast<int*>(n) > 1; }, &asked};
    RunInsideLoop([&] {
        Activate(form);
        MSG quit;
        PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
        Pump(100);
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(ApplicationRunning());
        EXPECT_FALSE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the vetoed close ended the loop";
        EXPECT_TRUE(IsWindowVisible(form->Handle()));

        SendMessageW(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(RunMessagesUntil([&] { return IsIconic(App()->Handle()) != FALSE; }, 2000));

        PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
        Pump(100);
        EXPECT_EQ(asked, 2);
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the accepted close did not end the loop";
    });
    EXPECT_EQ(Application(), nullptr);

    static int halted;
    halted = -1;
    const auto realHalt = std::exchange(HaltProgram, [](int code) { halted = code; });
    TControl::NewApplication("");
    form = TControl::NewForm(nullptr, "main");
    SetMainForm(form);
    asked = 0;
    form->closeQueryHandler = {[](void* n, TControl*, bool&) { ++*static_cast<int*>(n); }, &asked};
    RunInsideLoop([&] {
        Activate(form);
        SendMessageW(form->Handle(), WM_ENDSESSION, TRUE, 0);
        EXPECT_EQ(halted, 0);
        EXPECT_EQ(Application(), nullptr);
        EXPECT_FALSE(ApplicationRunning());
    });
    HaltProgram = realHalt;
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(MainForm(), nullptr);
}

// Private messages posted by someone else: nothing is freed, nothing ticks.
TEST_F(TControlTest, ForgedMessagesChangeNothing) {
    TControl* form = TControl::NewForm(nullptr, "form");
    TControl* button = TControl::NewButton(form, "button");
    form->CreateWindowNow();
    int ticks = 0;
    auto timer = NewObj<TTimer>(10);
    timer->SetTickHandler({[](void* n, TTimer*) { ++*static_cast<int*>(n); }, &ticks});
    timer->SetEnabled(true);
    const auto timerWindow = static_cast<HWND>(TimerWindowHandle());
    const std::uintptr_t stoppedId = timer->TimerId();
    // A real tick carries the timer procedure; a forgery can carry it too.
    MSG tick{};
    for (int i = 0; i < 200 && !PeekMessageW(&tick, timerWindow, WM_TIMER, WM_TIMER, PM_REMOVE); ++i) Sleep(10);
    ASSERT_EQ(tick.message, static_cast<UINT>(WM_TIMER));
    timer->SetEnabled(false);

    const long live = TControl::LiveCount();
    const HWND app = App()->Handle();
    const auto asParam = [](const void* p) { return reinterpret_cast<LPARAM>(p); };
    const struct {
        const char* name;
        HWND to;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } forged[] = {
        {"free an unmarked control, to the application", app, WM_FREE_LATER, 0, asParam(button)},
        {"free an unmarked control, to its form", form->Handle(), WM_FREE_LATER, 0, asParam(button)},
        {"free the form, to itself", form->Handle(), WM_FREE_LATER, 0, asParam(form)},
        {"free garbage, to the application", app, WM_FREE_LATER, 0, 0x12345678},
        {"free garbage, to the form", form->Handle(), WM_FREE_LATER, 0, -1},
        {"tick of a bogus id, to the timer window", timerWindow, WM_TIMER, 0x4242, tick.lParam},
        {"tick of a stopped timer, to the timer window", timerWindow, WM_TIMER, stoppedId, tick.lParam},
        {"tick of a stopped timer, plain, to the timer window", timerWindow, WM_TIMER, stoppedId, 0},
        {"tick of a stopped timer, to the form", form->Handle(), WM_TIMER, stoppedId, tick.lParam},
        {"tick of a bogus id, plain, to the form", form->Handle(), WM_TIMER, 0x4242, 0},
    };
    for (const auto& f : forged) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(PostMessageW(f.to, f.message, f.wParam, f.lParam));
        Pump();
        EXPECT_EQ(TControl::LiveCount(), live);
        EXPECT_TRUE(IsWindow(button->Handle()));
        EXPECT_TRUE(IsWindow(form->Handle()));
        EXPECT_EQ(ticks, 0);
    }
}

// A control freed by its own click handler, or with the form it is on, goes
// once, after the handler.
TEST_F(TControlTest, ControlFreedInsideItsClickHandler) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->SetBounds({100, 100, 400, 400});
    struct TCase {
        const char* name;
        TControl* control;
        bool freeForm = false;
        int destroyed = 0, clicks = 0;
        bool wholeAfterFree = false;
    } cases[] = {
        {"button", TControl::NewButton(form, "button")},
        {"label", TControl::NewLabel(form, "label")},
        {"paint box", TControl::NewPaintBox(form)},
        {"button freeing its form", TControl::NewButton(form, "button"), true},
    };
    for (TCase& c : cases) {
        c.control->SetTop(c.control->Top() + 70 * static_cast<int>(&c - cases));
        c.control->OnDestroy = {[](void* t, TObj*) { ++static_cast<TCase*>(t)->destroyed; }, &c};
        c.control->clickHandler = {[](void* t, TControl* sender) {
                                       auto* c = static_cast<TCase*>(t);
                                       ++c->clicks;
                                       (c->freeForm ? sender->Parent() : sender)->Free();
                                       c->wholeAfterFree = c->destroyed == 0 && IsWindow(sender->Handle()) &&
                                                           sender->Text() == c->name;
                                   },
                                   &c};
    }
    RunInsideLoop([&] {
        Activate(form);
        for (TCase& c : cases) {
            SCOPED_TRACE(c.name);
            const HWND window = c.control->Handle();
            c.control->SetText(c.name);
            ClickAt(window, 5, 5);
            EXPECT_TRUE(RunMessagesUntil([&] { return c.destroyed > 0; }, 2000));
            Pump();
            EXPECT_EQ(c.clicks, 1);
            EXPECT_TRUE(c.wholeAfterFree);
            EXPECT_EQ(c.destroyed, 1);
            EXPECT_FALSE(IsWindow(window));
        }
        EXPECT_EQ(TControl::LiveCount(), 1) << "only the application is left";
    });
}

// Freeing a container forgets the controls inside it: the form's current
// control and default button never name a freed one.
TEST_F(TControlTest, FreeingAContainerForgetsItsControls) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->SetBounds({100, 100, 400, 300});
    form->InstallNavigation();
    TControl* panel = TControl::NewPaintBox(form);
    TControl* inner = TControl::NewEdit(panel, 0);
    TControl* ok = TControl::NewButton(panel, "ok");
    TControl* outer = TControl::NewEdit(form, 0);
    outer->SetTop(80);
    int clicks = 0;
    ok->clickHandler = {[](void* n, TControl*) { ++*static_cast<int*>(n); }, &clicks};
    ok->SetDefaultButton(true);
    RunInsideLoop([&] {
        Activate(form);
        EXPECT_EQ(GetFocus(), inner->Handle());
        panel->Free();
        EXPECT_EQ(form->CurrentControl(), nullptr);
        SetFocus(form->Handle());  // the focus went with the edit
        PressKey(VK_RETURN);
        EXPECT_EQ(clicks, 0);
        PressKey(VK_TAB);
        EXPECT_EQ(GetFocus(), outer->Handle());
    });
}

// Windows-1251 text reaches the window as the right characters and comes
// back byte for byte, whatever the system's own code page.
TEST_F(TControlTest, CyrillicTextRoundTripsCodePage) {
    std::string bytes = "\xC2\xEA\xEB\xFE\xF7\xE8\xF2\xFC ";
    std::wstring wide = L"Включить ";
    for (int c = 0xC0; c <= 0xFF; ++c) {  // А..Я, а..я
        bytes += static_cast<char>(c);
        wide += static_cast<wchar_t>(0x410 + c - 0xC0);
    }
    bytes += "\xA8\xB8\xB9\xAB\xBB";
    wide += L"Ёё№«»";

    TControl* form = TControl::NewForm(nullptr, bytes);
    TControl* label = TControl::NewLabel(form, bytes);
    TControl* button = TControl::NewButton(form, bytes);
    TControl* edit = TControl::NewEdit(form, 0);
    edit->SetText(bytes);
    form->CreateWindowNow();
    wchar_t shown[100];
    for (TControl* c : {form, label, button, edit}) {
        SCOPED_TRACE(std::string(c->ClassName().begin(), c->ClassName().end()));
        GetWindowTextW(c->Handle(), shown, 100);
        EXPECT_STREQ(shown, wide.c_str()) << "set before the window existed";
        c->SetText("");
        c->SetText(bytes);
        GetWindowTextW(c->Handle(), shown, 100);
        EXPECT_STREQ(shown, wide.c_str());
        EXPECT_EQ(c->Text(), bytes);
        SetWindowTextW(c->Handle(), L"a\u4E2D\u00E9z");  // neither is in Windows-1251
        EXPECT_EQ(c->Text(), "a??z");
    }

    // Typed characters reach the key handlers as Windows-1251 bytes as well.
    std::string typed;
    edit->charHandler = {[](void* s, TControl*, int& key, std::uint32_t) { *static_cast<std::string*>(s) += static_cast<char>(key); },
                         &typed};
    Activate(form);
    ASSERT_TRUE(edit->Focus());
    TypeText(L"Жé");  // é is not in Windows-1251
    EXPECT_EQ(typed, "\xC6?");
}

}  // namespace

namespace {

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

// The edit's own timer scrolls a selection dragged past its edge; the layer
// must pass the ticks on, not keep them.
TEST_F(TControlTest, AnEditSelectionDraggedPastItsEdgeKeepsScrolling) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->SetBounds({100, 100, 400, 300});
    TControl* edit = TControl::NewEdit(form, 0);
    edit->SetBounds({10, 10, 90, 34});
    edit->SetText(std::string(200, 'x'));
    RunInsideLoop([&] {
        Activate(form);
        const HWND window = edit->Handle();
        SetFocus(window);
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(2, 5));
        SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, At(edit->Width() + 40, 5));
        DWORD start = 0, dragged = 0, later = 0;
        SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&dragged));
        Pump(600);
        SendMessageW(window, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&later));
        SendMessageW(window, WM_LBUTTONUP, 0, At(edit->Width() + 40, 5));
        EXPECT_GT(later, dragged) << "the selection stopped at the edge";
    });
}

// Handlers that run while windows are made and laid out may free controls,
// their own included; the layer goes on without touching what they freed.
TEST_F(TControlTest, HandlersMayFreeControlsDuringCreationAndLayout) {
    struct TCase {
        const char* name;
        bool freeSelf;  // the handler frees its own control, else the next sibling
        bool onResize;  // in a resize during docking, else after the window is made
    } const cases[] = {
        {"after create, a sibling", false, false},
        {"after create, itself", true, false},
        {"resized while docked, a sibling", false, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TControl* form = TControl::NewForm(nullptr, "form");
        form->SetBounds({100, 100, 400, 300});
        struct TState {
            const TCase* test;
            TControl* victim;
            int destroyed;
        } state{&c, nullptr, 0};
        TControl* first = TControl::NewPaintBox(form);
        TControl* second = TControl::NewPaintBox(form);
        TControl* third = TControl::NewPaintBox(form);
        state.victim = c.freeSelf ? first : second;
        state.victim->OnDestroy = {[](void* s, TObj*) { ++static_cast<TState*>(s)->destroyed; }, &state};
        const TNotifyHandler freeVictim{[](void* s, TControl*) {
                                            auto* st = static_cast<TState*>(s);
                                            if (st->victim != nullptr) std::exchange(st->victim, nullptr)->Free();
                                        },
                                        &state};
        if (c.onResize) {
            form->CreateWindowNow();
            first->resizeHandler = freeVictim;
            for (TControl* child : {first, second, third}) child->SetAlign(2);  // docked to the top
            form->SetHeight(250);
        } else {
            first->afterCreateHook = freeVictim;
            form->CreateWindowNow();
        }
        EXPECT_EQ(state.destroyed, 1);
        EXPECT_EQ(form->ChildCount(), 2);
        for (int i = 0; i < form->ChildCount(); ++i) EXPECT_TRUE(IsWindow(form->Child(i)->Handle()));
        form->Free();
        EXPECT_EQ(TControl::LiveCount(), 1) << "only the application is left";
    }
}

// A form has one default button: marking another takes the look from the first.
TEST_F(TControlTest, ANewDefaultButtonTakesTheDefaultLook) {
    TControl* form = TControl::NewForm(nullptr, "form");
    TControl* first = TControl::NewButton(form, "first");
    TControl* second = TControl::NewButton(form, "second");
    form->CreateWindowNow();
    const auto isDefault = [](TControl* b) { return (b->Style() & BS_DEFPUSHBUTTON) != 0; };
    first->SetDefaultButton(true);
    EXPECT_TRUE(isDefault(first));
    second->SetDefaultButton(true);
    EXPECT_FALSE(isDefault(first));
    EXPECT_TRUE(isDefault(second));
    second->SetDefaultButton(false);
    EXPECT_FALSE(isDefault(second));
    form->Free();
}

// Panels and images click on a press and a release inside them; a press
// that lost the mouse to another window never clicks later.
TEST_F(TControlTest, APressClicksOnlyWhenItEndsWhereItBegan) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->SetBounds({100, 100, 400, 300});
    TControl* box = TControl::NewPaintBox(form);
    TControl* other = TControl::NewPaintBox(form);
    other->SetLeft(150);
    int clicks = 0;
    box->clickHandler = {[](void* n, TControl*) { ++*static_cast<int*>(n); }, &clicks};
    RunInsideLoop([&] {
        Activate(form);
        const HWND window = box->Handle();
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
        EXPECT_EQ(GetCapture(), window) << "the press holds the mouse";
        SetCapture(other->Handle());  // the mouse goes elsewhere before the release
        ReleaseCapture();
        SendMessageW(window, WM_LBUTTONUP, 0, At(5, 5));
        EXPECT_EQ(clicks, 0) << "a stale press clicked";
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
        SendMessageW(window, WM_LBUTTONUP, 0, At(500, 5));  // released outside
        EXPECT_EQ(clicks, 0);
        EXPECT_EQ(GetCapture(), nullptr);
        SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, At(5, 5));
        SendMessageW(window, WM_LBUTTONUP, 0, At(6, 6));
        EXPECT_EQ(clicks, 1);
    });
}

}  // namespace
