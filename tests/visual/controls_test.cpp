// Buttons, edits and labels on a real form: the events that real input and
// real messages give, the edit's change reports, texts and tooltips.
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/visual/form_fixture.h"
#include "visual/controls.h"
#include "winlib/cp1251.h"

namespace {

using TControlsTest = TFormTest;

std::wstring WindowText(const TQXWin* element) {
    wchar_t buffer[512]{};
    GetWindowTextW(element->control->Handle(), buffer, 512);
    return buffer;
}

TEST_F(TControlsTest, EventsFromRealMessages) {
    auto* button = Make<TQXButton>(10, 10, 100, 30);
    SetInteger(button->Data, 7);
    auto* hidden = Make<TQXButton>(10, 50, 100, 30);
    hidden->Visible = false;
    auto* label = Make<TQXLabel>(150, 10, 120, 40);
    auto* first = Make<TQXEdit>(10, 100, 120, 24);
    auto* second = Make<TQXEdit>(150, 100, 120, 24);
    for (TQXWin* element : std::initializer_list<TQXWin*>{button, hidden, label, first, second}) element->initControl();
    Form->SwallowedKey = 'X';  // the form's key handlers see every key first
    Start();
    HWND l = label->control->Handle();
    auto wheel = [l](short delta, WORD keys) { SendMessageW(l, WM_MOUSEWHEEL, MAKEWPARAM(keys, delta), 0); };

    struct TCase {
        const char* name;
        TQX_Event& point;
        std::function<void()> act;
        std::vector<std::string> expected;
    };
    // In this order: the clicks leave the focus in the first edit. Clicks
    // are apart, so none of them counts as a double click.
    const TCase cases[] = {
        {"a button click carries its Data", button->onClick, [&] { ClickAt(button->control->Handle(), 50, 15); }, {"7"}},
        {"a label click carries NULL", label->onClick, [&] { ClickAt(l, 20, 20); }, {"NULL"}},
        {"mouse down, left then right", label->onMouseDown, [&] { ClickAt(l, 40, 10), ClickAt(l, 60, 10, true); }, {"0", "1"}},
        {"mouse up, left then right", label->onMouseUp, [&] { ClickAt(l, 80, 10), ClickAt(l, 100, 10, true); }, {"0", "1"}},
        {"moves after a left press, then after its release", label->onMouseMove,
         [&] { MouseButton(true), MoveMouseTo(l, 25, 25), MouseButton(false), MoveMouseTo(l, 30, 30); }, {"0", "-1"}},
        {"focus", second->onFocus, [&] { ClickAt(second->control->Handle(), 10, 10); }, {"NULL"}},
        {"blur", second->onBlur, [&] { ClickAt(first->control->Handle(), 10, 10); }, {"NULL"}},
        {"key down", first->onKeyDown, [] { PressKey('Y'); }, {"89"}},
        {"character", first->onChar, [] { PressKey('Y'); }, {"'y'"}},
        {"a key the form swallows: no key down", first->onKeyDown, [] { PressKey('X'); }, {}},
        {"a key the form swallows: no character", first->onChar, [] { PressKey('X'); }, {}},
        {"resize", label->onResize, [&] { label->control->SetWidth(130); }, {"NULL"}},
        {"show", hidden->onShow, [&] { hidden->control->SetVisible(true); }, {"NULL"}},
        {"wheel, key flags ignored", label->onWheel, [&] { wheel(120, 0), wheel(-120, MK_SHIFT); }, {"120", "-120"}},
    };
    for (const TCase& c : cases) {
        TRecorder recorder;
        c.point = QX_LINK(&recorder, doEvent, 0);
        c.act();
        Pump();
        c.point = {};
        EXPECT_EQ(Received(recorder), c.expected) << c.name;
    }
    EXPECT_EQ(first->control->Text(), "yy") << "the swallowed X never reached the edit";
}

TEST_F(TControlsTest, EditReportsTypingButNotSetText) {
    auto* edit = Make<TQXEdit>(10, 10, 200, 24);
    edit->Text = "12";
    edit->ValueSource = edit->TextReader();
    edit->initControl();
    TRecorder changes;
    edit->onTextChange = QX_LINK(&changes, doEvent, 0);
    Start();
    ClickAt(edit->control->Handle(), 5, 5);

    struct TStep {
        const char* name;
        int caret;             // put there first; -1: left where it is
        const wchar_t* typed;  // or else this text through doSetText
        const char* set;
        const char* text;
        int caretAfter;
        std::vector<std::string> reported;
    } const steps[] = {
        {"typing one character", 2, L"3", nullptr, "123", 3, {"'123'"}},
        {"doSetText", 1, nullptr, "456", "456", 1, {}},
        {"typing after doSetText", -1, L"7", nullptr, "4756", 2, {"'4756'"}},
        {"doSetText with the same text", 3, nullptr, "4756", "4756", 3, {}},
        {"typing after doSetText with the same text", -1, L"8", nullptr, "47586", 4, {"'47586'"}},
    };
    for (const TStep& s : steps) {
        changes.Seen.clear();
        if (s.caret >= 0) edit->control->SetSelection(s.caret, 0);
        if (s.typed != nullptr) TypeText(s.typed);
        if (s.set != nullptr) Fire(QX_LINK(edit, doSetText, 0), Text(s.set));
        Pump();
        EXPECT_EQ(edit->control->Text(), s.text) << s.name;
        EXPECT_EQ(edit->control->SelectionStart(), s.caretAfter) << s.name;
        EXPECT_EQ(Received(changes), s.reported) << s.name;
    }
}

// Runs under code page 1252 and 1251: the Russian texts must not depend on it.
TEST_F(TControlsTest, RussianTextsShowRightUnderEitherCodePage) {
    auto* button = Make<TQXButton>(10, 10, 120, 30);
    button->Caption = "Включить"_cp1251;
    auto* label = Make<TQXLabel>(10, 50, 300, 30);
    label->Caption = "Длительность импульса, с"_cp1251;
    auto* edit = Make<TQXEdit>(10, 90, 200, 24);
    edit->Text = "Сброс"_cp1251;
    for (TQXWin* element : std::initializer_list<TQXWin*>{button, label, edit}) element->initControl();
    Start();

    auto text = [](std::string_view s) { TData v; SetText(v, TText(s)); return v; };
    struct TCase {
        const char* name;
        TQXWin* element;
        std::function<void()> change;
        const wchar_t* expected;
    } const cases[] = {
        {"button caption", button, [] {}, L"Включить"},
        {"label caption", label, [] {}, L"Длительность импульса, с"},
        {"edit text", edit, [] {}, L"Сброс"},
        {"button doSetCaption", button, [&] { Fire(QX_LINK(button, doSetCaption, 0), text("Отключить"_cp1251)); }, L"Отключить"},
        {"label doSetText", label, [&] { Fire(QX_LINK(label, doSetText, 0), text("Ёлка, ёж, №1"_cp1251)); }, L"Ёлка, ёж, №1"},
        {"edit doSetText", edit, [&] { Fire(QX_LINK(edit, doSetText, 0), text("Порт"_cp1251)); }, L"Порт"},
        {"typed into the edit", edit, [&] { ClickAt(edit->control->Handle(), 5, 5), edit->control->SetSelection(4, 0), TypeText(L"ы"); }, L"Порты"},
    };
    for (const TCase& c : cases) {
        c.change();
        EXPECT_EQ(WindowText(c.element), c.expected) << c.name;
    }
}

TEST_F(TControlsTest, OnlyElementsWithHintsGetTooltips) {
    const std::size_t before = DefaultHintManager().ToolCount();
    auto* label = Make<TQXLabel>(10, 10, 200, 30);
    label->Hint = "Время в секундах"_cp1251;
    auto* edit = Make<TQXEdit>(10, 50, 200, 24);
    edit->Hint = "Номер порта"_cp1251;
    auto* plain = Make<TQXButton>(10, 90, 100, 30);
    for (TQXWin* element : std::initializer_list<TQXWin*>{label, edit, plain}) element->initControl();
    for (TQXWin* element : std::initializer_list<TQXWin*>{Form, label, edit, plain}) element->AttachHint(nullptr);
    Start();

    EXPECT_EQ(DefaultHintManager().ToolCount(), before + 2);
    EXPECT_EQ(plain->hintManager, nullptr);
    struct TCase {
        TQXWin* element;
        const wchar_t* text;
    } const cases[] = {{label, L"Время в секундах"}, {edit, L"Номер порта"}};
    std::vector<HWND> tips;
    for (const TCase& c : cases) {
        HWND window = c.element->control->Handle();
        HWND tip = tips.emplace_back(DefaultHintManager().TipWindow(c.element->hintToolId));
        ASSERT_TRUE(IsWindow(tip));
        EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
        wchar_t buffer[256]{};
        TOOLINFOW info{};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        info.hwnd = window;
        info.uId = reinterpret_cast<UINT_PTR>(window);
        info.lpszText = buffer;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(std::wstring(buffer), c.text);
        // Owned by the element's window or a window above it.
        HWND owner = GetWindow(tip, GW_OWNER);
        bool inChain = false;
        for (HWND w = window; w != nullptr && !inChain; w = GetParent(w)) inChain = w == owner;
        EXPECT_TRUE(inChain);
    }
    EXPECT_NE(tips[0], tips[1]);
}

}  // namespace
