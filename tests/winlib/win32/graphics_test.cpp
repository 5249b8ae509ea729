// Graphic tools and bitmaps on real GDI objects.
#include "winlib/win32/graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "winlib/win32/gdi.h"

namespace {

using TKind = TGraphicTool::TKind;

TEST(TGraphicTool, SettingTheSameColourKeepsTheHandle) {
    for (TKind kind : {TKind::Brush, TKind::Font, TKind::Pen}) {
        SCOPED_TRACE(static_cast<int>(kind));
        auto tool = NewObj<TGraphicTool>(kind);
        tool->SetColor(0x00336699);
        const HGDIOBJ handle = tool->Handle();
        ASSERT_NE(handle, nullptr);
        const long objects = LiveGdi().Objects;
        tool->SetColor(0x00336699);
        EXPECT_EQ(tool->Handle(), handle);
        EXPECT_EQ(LiveGdi().Objects, objects);
        EXPECT_NE(GetObjectType(handle), 0u) << "the handle was deleted";
    }
}

// Both forms of a system colour name it; it is looked up when the handle is made.
TEST(TGraphicTool, BrushColoursResolveSystemColours) {
    const struct {
        TColor colour;
        COLORREF expected;
    } cases[] = {
        {0xFF00000F, GetSysColor(COLOR_BTNFACE)},
        {0x8000000F, GetSysColor(COLOR_BTNFACE)},
        {0xFF000005, GetSysColor(COLOR_WINDOW)},
        {0x80000008, GetSysColor(COLOR_WINDOWTEXT)},
        {0x00123456, 0x00123456},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.colour);
        auto brush = NewObj<TGraphicTool>(TKind::Brush);
        brush->SetColor(c.colour);
        LOGBRUSH made{};
        ASSERT_EQ(GetObjectW(brush->Handle(), sizeof made, &made), static_cast<int>(sizeof made));
        EXPECT_EQ(made.lbStyle, static_cast<UINT>(BS_SOLID));
        EXPECT_EQ(made.lbColor, c.expected);
    }
}

TEST(TGraphicTool, PointsToFontHeight) {
    const struct {
        int points, height;
    } cases[] = {{8, -11}, {12, -16}, {14, -19}, {0, 0}, {1, -1}};
    for (const auto& c : cases) EXPECT_EQ(PointsToHeight(c.points, 96), c.height) << c.points << " points";
}

// The pixels of a white bitmap of the screen's kind after `draw` drew on it.
std::vector<COLORREF> DrawnPixels(int width, int height, const std::function<void(HDC)>& draw) {
    auto target = NewObj<TBitmap>();
    target->MakeCompatible(width, height);
    TMemoryDC dc(nullptr);
    TGdiSelect select(dc.Handle(), target->Handle());
    PatBlt(dc.Handle(), 0, 0, width, height, WHITENESS);
    draw(dc.Handle());
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(dc.Handle(), x, y));
    return pixels;
}

TEST(TBitmap, EmptyBitmapsDrawNothing) {
    const struct {
        const char* name;
        void (*setUp)(TBitmap& bitmap);
    } cases[] = {
        {"new", [](TBitmap&) {}},
        {"no width", [](TBitmap& b) { b.SetBits(0, 50, 24, std::vector<std::uint8_t>(300 * 50)); }},
        {"too few bits", [](TBitmap& b) { b.SetBits(100, 50, 24, std::vector<std::uint8_t>(300 * 49)); }},
        {"null handle", [](TBitmap& b) { b.TakeHandle(nullptr); }},
        {"cleared", [](TBitmap& b) { b.MakeCompatible(10, 10), b.Clear(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bitmap = NewObj<TBitmap>();
        c.setUp(*bitmap);
        EXPECT_TRUE(bitmap->Empty());
        const auto pixels = DrawnPixels(40, 40, [&](HDC dc) {
            bitmap->Draw(dc, 0, 0);
            bitmap->StretchDraw(dc, {0, 0, 40, 40});
        });
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), RGB(255, 255, 255)), 40 * 40);
    }
}

// 100 x 50 stretched into 200 x 200: every source pixel becomes a 2 x 4 block.
TEST(TBitmap, StretchDrawFillsTheRectangle) {
    const long objects = LiveGdi().Objects;
    // Red grows to the right, green downwards; the rows are stored bottom-up.
    std::vector<std::uint8_t> bits(300 * 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) {
            std::uint8_t* p = &bits[static_cast<std::size_t>((49 - y) * 300 + x * 3)];
            p[0] = 0x80, p[1] = static_cast<std::uint8_t>(y * 4), p[2] = static_cast<std::uint8_t>(x * 2);
        }
    const struct {
        const char* name;
        bool asHandle;
        std::size_t surplus;  // bytes given beyond the picture
    } cases[] = {{"held as bits", false, 0}, {"held as a handle", true, 0}, {"a handle made from surplus bits", true, 1 << 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bitmap = NewObj<TBitmap>();
        std::vector<std::uint8_t> given = bits;
        given.resize(bits.size() + c.surplus, 0xFF);
        bitmap->SetBits(100, 50, 24, given);
        if (c.asHandle) bitmap->MakeDIBSection();
        ASSERT_EQ(bitmap->Handle() != nullptr, c.asHandle);
        const auto pixels = DrawnPixels(200, 200, [&](HDC dc) { bitmap->StretchDraw(dc, {0, 0, 200, 200}); });
        for (const POINT p : {POINT{0, 0}, {199, 0}, {0, 199}, {199, 199}, {100, 100}, {57, 131}})
            EXPECT_EQ(pixels[static_cast<std::size_t>(p.y * 200 + p.x)], RGB(p.x / 2 * 2, p.y / 4 * 4, 0x80)) << p.x << ", " << p.y;
    }
    EXPECT_EQ(LiveGdi().Objects, objects);
}

}  // namespace

#include "tests/support/window_fixture.h"

namespace {

using TCanvasTest = TWindowTest;

// A tool changed while selected into the canvas's DC is selected out before
// its old handle is deleted: Windows never deletes a selected object.
TEST_F(TCanvasTest, ToolsChangedWhileSelectedAreReallyDeleted) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->CreateWindowNow();
    struct TCase {
        const char* name;
        HGDIOBJ (*select)(TControl* box);  // gives the handle now selected
        void (*change)(TControl* box);
    } const cases[] = {
        {"pen", [](TControl* b) { b->Canvas()->SelectPen(); return b->Canvas()->Pen()->Handle(); },
         [](TControl* b) { b->Canvas()->Pen()->SetColor(0x0000FF); }},
        {"brush",
         [](TControl* b) {
             b->Canvas()->Brush()->SetColor(0x00FF00);
             b->Canvas()->SelectBrush();
             return b->Canvas()->Brush()->Handle();
         },
         [](TControl* b) { b->Canvas()->Brush()->SetColor(0xFF0000); }},
        {"font",
         [](TControl* b) {
             b->Canvas()->Font()->SetFontHeight(-20);
             b->Canvas()->SelectFont();
             return b->Canvas()->Font()->Handle();
         },
         [](TControl* b) { b->Canvas()->Font()->SetFontHeight(-30); }},
        // A canvas without a brush of its own selects the control's.
        {"the control's own brush", [](TControl* b) { b->Canvas()->SelectBrush(); return HGDIOBJ(b->BackgroundBrush()); },
         [](TControl* b) { b->SetColor(0x123456); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TControl* box = TControl::NewPaintBox(form);  // a fresh canvas for each
        box->SetColor(0x654321);
        box->CreateWindowNow();
        const HGDIOBJ old = c.select(box);
        ASSERT_NE(GetObjectType(old), 0u);
        ASSERT_EQ(GetCurrentObject(box->Canvas()->Handle(), GetObjectType(old)), old) << "not selected";
        c.change(box);
        EXPECT_EQ(GetObjectType(old), 0u) << "the old handle is still alive";
        box->Canvas()->Release();
    }
    form->Free();
}

// A paint handler that changes the control's font colour keeps drawing on
// the same canvas, with the settings it made there.
TEST_F(TCanvasTest, TheCanvasOutlivesAFontChangeDuringAPaint) {
    TControl* form = TControl::NewForm(nullptr, "form");
    form->SetBounds({100, 100, 300, 300});
    TControl* box = TControl::NewPaintBox(form);
    box->SetBounds({0, 0, 50, 50});
    struct TSeen {
        bool painted = false, sameCanvas = false, brushKept = false, fontFollowed = false;
    } seen;
    box->paintHandler = {[](void* s, TControl* sender, HDC) {
                             auto* seen = static_cast<TSeen*>(s);
                             if (seen->painted) return;
                             seen->painted = true;
                             TCanvas* canvas = sender->Canvas();
                             canvas->Brush()->SetColor(0x00FF00);
                             canvas->Font();
                             sender->SetTextColor(0x0000FF);
                             canvas->FillRect(sender->ClientRect());
                             seen->sameCanvas = sender->Canvas() == canvas;
                             seen->brushKept = canvas->Brush()->Color() == 0x00FF00;
                             seen->fontFollowed = canvas->Font()->Color() == 0x0000FF;
                         },
                         &seen};
    RunInsideLoop([&] {
        Activate(form);
        RedrawWindow(box->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    });
    EXPECT_TRUE(seen.painted);
    EXPECT_TRUE(seen.sameCanvas);
    EXPECT_TRUE(seen.brushKept);
    EXPECT_TRUE(seen.fontFollowed);
    form->Free();
}

// Resources named by a number (MAKEINTRESOURCE) load like named ones.
TEST(TBitmap, LoadsByNumericResourceId) {
    auto bitmap = NewObj<TBitmap>();
    constexpr int systemCheckMark = 32760;  // OBM_CHECK, one of the system's own bitmaps
    ASSERT_TRUE(bitmap->LoadFromResource(nullptr, MAKEINTRESOURCEA(systemCheckMark)));
    EXPECT_GT(bitmap->Width(), 0);
    EXPECT_FALSE(bitmap->LoadFromResource(nullptr, MAKEINTRESOURCEA(1)));
    EXPECT_TRUE(bitmap->Empty());
}

}  // namespace
