// Forms on real windows: the close protocol, showing and hiding, the window
// position kept in an INI file, and forms made and freed many times.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/visual/form_fixture.h"
#include "visual/controls.h"
#include "visual/image.h"
#include "visual/led.h"
#include "winlib/inifile.h"
#include "winlib/win32/gdi.h"

namespace {

using TFormsTest = TFormTest;

bool Shown(const TQXWin* form) { return IsWindowVisible(form->control->Handle()) != FALSE; }

TEST_F(TFormsTest, CloseVetoAndChildFormsThatOnlyHide) {
    TSource veto;
    veto.Value = Int(1);
    TRecorder closes;
    Form->BlockClose = QX_LINK(&veto, readValue, 0);
    Form->onClose = QX_LINK(&closes, doEvent, 0);
    auto* child = Make<TQXMainForm>(60, 60, 300, 200);
    child->Visible = false;
    child->BlockClose = QX_LINK(&veto, readValue, 0);
    child->initControl();
    Start();
    HWND main = Form->control->Handle(), window = child->control->Handle();
    const TQX_Event setVisible = QX_LINK(child, doSetVisible, 0);

    struct TStep {
        const char* name;
        std::function<void()> act;
        bool mainShown, childShown;
        std::vector<std::string> closed;
    } const steps[] = {
        {"doSetVisible Integer 1 shows", [&] { Fire(setVisible, Int(1)); }, true, true, {}},
        {"the user's close, vetoed", [&] { SendMessageW(window, WM_CLOSE, 0, 0); }, true, true, {}},
        {"a close with lParam 1 hides the child", [&] { SendMessageW(window, WM_CLOSE, 0, 1); }, true, false, {}},
        {"doSetVisible String \"0\" shows", [&] { Fire(setVisible, Text("0")); }, true, true, {}},
        {"doSetVisible Integer 0 hides", [&] { Fire(setVisible, Int(0)); }, true, false, {}},
        {"doSetVisible NULL shows", [&] { Fire(setVisible, TData()); }, true, true, {}},
        {"the user's close of the main form, vetoed", [&] { SendMessageW(main, WM_CLOSE, 0, 0); }, true, true, {}},
        // Its child forms close with it, and the program ends.
        {"a close with lParam 1 closes the main form", [&] { SendMessageW(main, WM_CLOSE, 0, 1); }, true, false, {"NULL"}},
    };
    RunInsideLoop([&] {
        for (const TStep& s : steps) {
            s.act();
            Pump();
            EXPECT_EQ(Shown(Form), s.mainShown) << s.name;
            EXPECT_EQ(Shown(child), s.childShown) << s.name;
            EXPECT_EQ(child->control->Handle(), window) << s.name << ": the same window throughout";
            EXPECT_EQ(Received(closes), s.closed) << s.name;
        }
        MSG quit;
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the program ends";
    });
}

// Forms whose position is kept in place.ini, section "about", in a program
// directory of the test's own.
class TPositionStoreTest : public TFormTest {
protected:
    void SetUp() override {
        TFormTest::SetUp();
        previous_ = OverrideProgramDirectory(dir_.WithSeparator());
        Start();
    }
    void TearDown() override {
        OverrideProgramDirectory(previous_);
        TFormTest::TearDown();
    }
    // A new form, shown for the first time: the stored position is loaded.
    TQXMainForm* ShownForm() {
        auto* form = Make<TQXMainForm>(100, 120, 320, 240);
        form->Visible = false;
        form->PositionKey = "place.ini\\about";
        form->initControl();
        Fire(QX_LINK(form, doSetVisible, 0), Int(1));
        Pump();
        return form;
    }
    TTempDir dir_;

private:
    std::optional<std::string> previous_;
};

TEST_F(TPositionStoreTest, SavesTheNormalPositionInOrder) {
    for (const int state : {SW_SHOWNORMAL, SW_MAXIMIZE, SW_MINIMIZE}) {
        DeleteFileA(dir_.File("place.ini").c_str());
        HWND window = ShownForm()->control->Handle();
        MoveWindow(window, 50, 60, 300, 200, TRUE);
        ShowWindow(window, state);
        Pump();
        SendMessageW(window, WM_CLOSE, 0, 1);
        EXPECT_EQ(Slurp(dir_.File("place.ini")), "[about]\r\nLeft=50\r\nTop=60\r\nWidth=300\r\nHeight=200\r\n")
            << "show command " << state;
    }
}

TEST_F(TPositionStoreTest, LoadsWellFormedValuesAtTheFirstShow) {
    struct TCase {
        const char* name;
        const char* stored;
        std::vector<LONG> expected;  // left, top, width, height
    } const cases[] = {
        {"nothing stored", nullptr, {100, 120, 320, 240}},
        {"all four", "[about]\r\nLeft=50\r\nTop=60\r\nWidth=300\r\nHeight=200\r\n", {50, 60, 300, 200}},
        {"some malformed", "[about]\r\nLeft=5x\r\nTop=70\r\nWidth=\r\nHeight=250\r\n", {100, 70, 320, 250}},
        {"too big, hexadecimal, a lone sign", "[about]\r\nLeft=99999999999\r\nTop=0x10\r\nHeight=-\r\n", {100, 120, 320, 240}},
    };
    for (const TCase& c : cases) {
        if (c.stored != nullptr) Spit(dir_.File("place.ini"), c.stored);
        RECT r{};
        GetWindowRect(ShownForm()->control->Handle(), &r);
        EXPECT_EQ((std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}), c.expected) << c.name;
    }
}

// GDI objects, DCs, icon copies, controls, windows, tooltips.
std::vector<long> CountsNow(const char* when) {
    const TGdiCounts gdi = LiveGdi();
    const std::vector<long> n = {gdi.Objects, gdi.DCs, gdi.Icons, TControl::LiveCount(), CountThreadWindows(),
                                 static_cast<long>(DefaultHintManager().ToolCount())};
    std::printf("%s: GDI objects %ld, DCs %ld, icons %ld; controls %ld; windows %ld; tooltips %ld\n", when, n[0], n[1],
                n[2], n[3], n[4], n[5]);
    return n;
}

// A form with an element of each kind, shown and painted; freed in reverse order.
std::vector<std::unique_ptr<TQXWin>> ShownFormOfEveryKind(TControl* owner) {
    std::vector<std::unique_ptr<TQXWin>> made;
    auto add = [&made](auto* element, int left, int top, int width, int height) {
        made.emplace_back(Place(element, left, top, width, height));
        return element;
    };
    auto* form = add(new TQXMainForm(owner), 40, 40, 500, 400);
    form->Visible = false;
    form->initControl();
    TControl* parent = form->control;
    add(new TQXButton(parent), 10, 10, 100, 30);
    add(new TQXEdit(parent), 10, 50, 100, 24);
    add(new TQXLabel(parent), 10, 80, 200, 24)->Hint = "hint";
    add(new TQXLED(parent), 220, 10, 35, 35)->Framed = true;
    auto* panel = add(new TQXPanel(parent), 10, 120, 300, 200);
    panel->BevelInner = 2;
    panel->BevelWidth = 1;
    panel->Caption = "panel";
    for (std::size_t i = 1; i < made.size(); ++i) made[i]->initControl();
    auto* image = add(new TQXImage(panel->control), 10, 10, 200, 100);
    image->Picture->SetBits(4, 2, 24, std::vector<std::uint8_t>(24, 0x80));
    image->DrawMethod = image->StretchDrawMethod();
    image->initControl();
    for (const auto& element : made) element->AttachHint(nullptr);
    Fire(QX_LINK(form, doSetVisible, 0), Int(1));
    RedrawWindow(parent->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(0);
    return made;
}

TEST_F(TFormsTest, AThousandFormsLeaveNothingBehind) {
    Form->SetIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512)));  // each form copies it
    Start();
    const std::vector<long> before = CountsNow("before");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        auto made = ShownFormOfEveryKind(Form->control);
        if (i == 0) CountsNow("with one form");
        while (!made.empty()) made.pop_back();
        Pump(0);
    }
    EXPECT_EQ(CountsNow("after 1000 forms"), before);
    std::printf("%.1f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace
