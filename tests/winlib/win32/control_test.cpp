// The window layer on real windows: creation, keyboard navigation, closing.
#include "winlib/win32/control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/window_fixture.h"

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

}  // namespace
