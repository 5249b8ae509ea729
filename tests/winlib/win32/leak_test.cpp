// Making, painting and freeing many controls and tools leaves nothing behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>

#include "tests/support/window_fixture.h"
#include "winlib/win32/control.h"
#include "winlib/win32/gdi.h"

namespace {

using TLeakTest = TWindowTest;

// What must come back: the layer's GDI objects, DCs and icon copies, live
// controls, this thread's windows, and the system's own GDI and USER object
// counts (always 0 under Wine, so they only count on Windows).
constexpr const char* CountNames[] = {"GDI objects", "DCs", "icons", "controls", "windows", "system GDI", "system USER"};
using TCounts = std::array<long, std::size(CountNames)>;

TCounts CountNow() {
    const TGdiCounts gdi = LiveGdi();
    return {gdi.Objects, gdi.DCs, gdi.Icons, TControl::LiveCount(), CountThreadWindows(),
            static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
            static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS))};
}

// Runs `make` for 0..count-1 after a short warm-up (classes registered,
// caches filled), prints the figures and checks that everything went.
void ExpectNoLeak(const char* what, int count, const std::function<void(int)>& make) {
    for (int i = 0; i < 25; ++i) make(i);
    const TCounts before = CountNow();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) make(i);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const TCounts after = CountNow();
    std::printf("%d %s in %.2f s:", count, what, seconds);
    for (std::size_t i = 0; i < before.size(); ++i) std::printf(" %s %ld -> %ld;", CountNames[i], before[i], after[i]);
    std::printf("\n");
    EXPECT_EQ(after, before) << what;
}

// A paint box draws with every tool of its canvas.
void PaintWithCanvas(void* paints, TControl* sender, HDC) {
    ++*static_cast<int*>(paints);
    TCanvas* canvas = sender->Canvas();
    canvas->Brush()->SetColor(0x00FF8040);
    canvas->FillRect({0, 0, 10, 10});
    canvas->Pen()->SetColor(0x000000FF);
    const POINT line[] = {{0, 0}, {20, 20}};
    canvas->Polyline(line, 2);
    canvas->Font()->SetFontHeight(-13);
    canvas->SelectFont();
    canvas->SelectBrush();
    canvas->TextExtent("\xC6");
}

TEST_F(TLeakTest, TenThousandControlsAndToolsLeaveNothing) {
    App()->SetIcon(LoadIconA(nullptr, IDI_APPLICATION));  // every form makes a copy of it
    TControl* host = TControl::NewForm(nullptr, "host");
    host->SetBounds({0, 0, 300, 300});
    host->SetVisible(true);
    host->CreateWindowNow();
    int paints = 0;
    ExpectNoLeak("controls", 10000, [&](int i) {
        TControl* c = nullptr;
        // One control in fifty is a whole form: showing a top-level window
        // costs Wine tens of milliseconds.
        switch (i % 50 == 49 ? 4 : i % 4) {
        case 0: c = TControl::NewLabel(host, "label"); break;
        case 1: c = TControl::NewEdit(host, i % 2 ? eoMultiline : 0u); break;
        case 2: c = TControl::NewButton(host, "button"); break;
        case 3:
            c = TControl::NewPaintBox(host);
            c->paintHandler = {PaintWithCanvas, &paints};
            break;
        default:
            c = TControl::NewForm(nullptr, "form");
            TControl::NewButton(c, "child");
            c->SetVisible(true);
            break;
        }
        // Their own brush, and now and then their own font.
        c->SetColor(static_cast<TColor>(i) & 0x00FFFFFF);
        if (i % 3 == 0) c->Font()->SetFontHeight(-10 - i % 7);
        c->CreateWindowNow();
        InvalidateRect(c->Handle(), nullptr, TRUE);
        UpdateWindow(c->Handle());
        c->Free();
    });
    EXPECT_GE(paints, 2400);

    ExpectNoLeak("graphic tools", 10000, [](int i) {
        static constexpr TGraphicTool::TKind kinds[] = {TGraphicTool::TKind::Font, TGraphicTool::TKind::Brush,
                                                        TGraphicTool::TKind::Pen};
        auto tool = NewObj<TGraphicTool>(kinds[i % 3]);
        tool->SetColor(static_cast<TColor>(i) * 0x010101);
        tool->Handle();
        tool->SetColor(i % 2 ? clBtnFace : 0x00FFFFFF);  // drops the handle
        tool->Handle();
    });
}

}  // namespace
