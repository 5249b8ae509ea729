// What the drawing elements put on the screen, read back pixel by pixel:
// the main window's lamp, the About window's stretched picture and panel.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/visual/form_fixture.h"
#include "visual/image.h"
#include "visual/led.h"

namespace {

using TDrawingTest = TFormTest;

constexpr COLORREF Red = RGB(255, 0, 0), DarkRed = RGB(128, 0, 0), White = RGB(255, 255, 255), Grey = RGB(128, 128, 128);

// The lamp as it should look with the main window's colours: background,
// body, rim and highlight drawn step by step with plain GDI calls into a
// memory picture of the given client size.
TPixels ExpectedLamp(int width, int height, bool lit) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    std::vector<HGDIOBJ> made{CreateCompatibleBitmap(screen, width, height)};
    ReleaseDC(nullptr, screen);
    auto pen = [&](int w, COLORREF c) { return made.emplace_back(CreatePen(PS_SOLID, w, c)); };
    auto brush = [&](COLORREF c) { return static_cast<HBRUSH>(made.emplace_back(CreateSolidBrush(c))); };
    const HGDIOBJ oldBitmap = SelectObject(dc, made[0]), oldPen = GetCurrentObject(dc, OBJ_PEN);

    const int L = 0, T = 0, R = width, B = height;
    const RECT area{L, T, R, B};
    FillRect(dc, &area, brush(GetSysColor(COLOR_BTNFACE)));
    HRGN body = CreateEllipticRgn(L, T, R, B);
    FillRgn(dc, body, brush(lit ? Red : DarkRed));
    DeleteObject(body);
    SelectObject(dc, pen(1, Grey));  // rim: the upper-left half in shadow, the other half lit
    Arc(dc, L, T, R, B, R, T, L, B);
    SelectObject(dc, pen(1, White));
    Arc(dc, L, T, R, B, L, B, R, T);
    if (lit) {  // an inner ring on the lower right
        SelectObject(dc, pen(1, DarkRed));
        Arc(dc, L + 1, T + 1, R - 1, B - 1, L + (R - L) / 8 - 1, B - 1, R - 1, T + (B - T) / 8 - 1);
    }
    // The highlight: a long stroke and a short wide one on the upper left of an inner box.
    const int L2 = R / 5, R2 = R - R / 5, T2 = B / 5, B2 = B - B / 5;
    SelectObject(dc, pen(1, lit ? White : DarkRed));
    Arc(dc, L2, T2, R2, B2, L2 + std::lrint((R2 - L2) * 0.52), T2, L2, T2 + std::lrint((B2 - T2) * 0.52));
    SelectObject(dc, pen(2, lit ? White : Red));
    Arc(dc, L2, T2, R2, B2, L2 + std::lrint((R2 - L2) * 0.24), T2, L2, T2 + std::lrint((B2 - T2) * 0.24));

    TPixels out = ReadPixels(dc, width, height);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    for (HGDIOBJ object : made) DeleteObject(object);
    return out;
}

// The first colour other than `body` met walking from (x, y) in steps of
// (dx, dy); with no step, the colour at (x, y).
COLORREF FirstNot(COLORREF body, const TPixels& p, int x, int y, int dx, int dy) {
    while ((dx != 0 || dy != 0) && p.At(x, y) == body && x + dx >= 0 && y + dy >= 0 && x + dx < p.Width && y + dy < p.Height)
        x += dx, y += dy;
    return p.At(x, y);
}

TEST_F(TDrawingTest, LampLooksRightAndReportsChanges) {
    auto* lamp = Make<TQXLED>(525, 215, 35, 35);  // as the main window sets it up
    lamp->BorderKind = 1;
    lamp->LitColor = 255;
    lamp->UnlitColor = 128;
    lamp->FrameColor = 0xFFFFFF;
    lamp->Shape = 0;
    lamp->Framed = true;
    lamp->initControl();
    TRecorder changes;
    lamp->onChange = QX_LINK(&changes, doEvent, 0);
    Start();
    HWND window = lamp->control->Handle();

    // Where each part shows in the 33 x 33 client (inside a one-pixel border).
    struct TPart {
        const char* name;
        int x, y, dx, dy;
        COLORREF lit, unlit;
    } const parts[] = {
        {"body, at the centre", 16, 16, 0, 0, Red, DarkRed},
        {"rim, left end", 0, 16, 0, 0, Grey, Grey},
        {"rim, top", 16, 0, 0, 0, Grey, Grey},
        {"rim, right end", 32, 16, 0, 0, White, White},
        {"rim, bottom", 16, 32, 0, 0, White, White},
        // Unlit, the long stroke has the body's colour: going up, the rim comes first.
        {"long stroke, from the centre up", 16, 16, 0, -1, White, Grey},
        {"short stroke, from the centre up-left", 16, 16, -1, -1, White, Red},
        {"inner ring (lit only), from the centre right", 16, 16, 1, 0, DarkRed, White},
    };
    const TQX_Event on = QX_LINK(lamp, doOn, 2), off = QX_LINK(lamp, doOff, 1);
    struct TStep {
        const char* name;
        const TQX_Event* input;
        bool lit;
        std::vector<std::string> reported;  // all so far
    } const steps[] = {
        {"at start", nullptr, false, {}},
        {"doOn", &on, true, {"1"}},
        {"doOn again", &on, true, {"1"}},
        {"doOff", &off, false, {"1", "0"}},
    };
    for (const TStep& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.input != nullptr) Fire(*s.input, TData());
        Pump();
        EXPECT_EQ(Received(changes), s.reported);
        const TPixels shown = ClientPixels(window);
        ASSERT_EQ(shown.Width, 33);
        ASSERT_EQ(shown.Height, 33);
        const TPixels expected = ExpectedLamp(33, 33, s.lit);
        int unlike = 0;
        for (std::size_t i = 0; i < shown.Colors.size(); ++i) unlike += shown.Colors[i] != expected.Colors[i];
        EXPECT_EQ(unlike, 0) << "pixels unlike the expected drawing";
        for (const TPart& p : parts)
            EXPECT_EQ(FirstNot(s.lit ? Red : DarkRed, shown, p.x, p.y, p.dx, p.dy), s.lit ? p.lit : p.unlit) << p.name;
    }
}

TEST_F(TDrawingTest, ImageStretchesThePictureOverItsClientArea) {
    // A 663 x 412 picture of three by three blocks, each of its own colour.
    const COLORREF blocks[3][3] = {{RGB(200, 30, 30), RGB(90, 90, 90), RGB(30, 200, 30)},
                                   {RGB(90, 90, 90), RGB(230, 230, 40), RGB(90, 90, 90)},
                                   {RGB(30, 30, 200), RGB(90, 90, 90), RGB(200, 40, 200)}};
    const int width = 663, height = 412, stride = (width * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const COLORREF c = blocks[y * 3 / height][x * 3 / width];
            std::uint8_t* p = &bits[static_cast<std::size_t>((height - 1 - y) * stride + x * 3)];  // bottom-up, BGR
            p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c);
        }
    auto* image = Make<TQXImage>(10, 10, 710, 410);
    image->BorderKind = 1;
    image->Picture->SetBits(width, height, 24, std::move(bits));
    image->SetSmooth(true);
    image->DrawMethod = image->StretchDrawMethod();
    image->initControl();
    Start();

    const TPixels shown = ClientPixels(image->control->Handle());
    ASSERT_EQ(shown.Width, 708);
    ASSERT_EQ(shown.Height, 408);
    struct TPoint {
        const char* name;
        int x, y;
        COLORREF expected;
    } const points[] = {
        {"top left", 0, 0, blocks[0][0]},      {"top right", 707, 0, blocks[0][2]},
        {"bottom left", 0, 407, blocks[2][0]}, {"bottom right", 707, 407, blocks[2][2]},
        {"centre", 354, 204, blocks[1][1]},
    };
    auto within = [](int a, int b) { return std::abs(a - b) <= 8; };
    for (const TPoint& p : points) {
        const COLORREF c = shown.At(p.x, p.y), e = p.expected;
        EXPECT_TRUE(within(GetRValue(c), GetRValue(e)) && within(GetGValue(c), GetGValue(e)) && within(GetBValue(c), GetBValue(e)))
            << p.name << ": " << std::hex << c << " for " << e;
    }
}

TEST_F(TDrawingTest, PanelBevelsBandAndCaption) {
    auto* panel = Make<TQXPanel>(10, 10, 400, 200);
    panel->BevelOuter = 2;  // raised
    panel->BevelInner = 1;  // lowered
    panel->BevelWidth = 1;
    panel->BorderWidth = 1;
    panel->BorderKind = 1;
    panel->Alignment = 1;  // right: the end of a long caption shows
    panel->initControl();
    Start();
    HWND window = panel->control->Handle();

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto halfway = [face](int to) { return RGB(GetRValue(face) / 2 + to / 2, GetGValue(face) / 2 + to / 2, GetBValue(face) / 2 + to / 2); };
    const COLORREF light = halfway(255), dark = halfway(0);
    ASSERT_GT(GetRValue(dark) + GetGValue(dark) + GetBValue(dark), 3 * 64) << "a shade of the face, not near-black";
    struct TRing {
        const char* name;
        COLORREF topLeft, bottomRight;
    } const rings[] = {{"outer bevel", light, dark}, {"border band", face, face}, {"inner bevel", dark, light}, {"inside", face, face}};
    const TPixels p = ClientPixels(window);
    const int w = p.Width, h = p.Height;
    for (int k = 0; k < static_cast<int>(std::size(rings)); ++k) {
        EXPECT_TRUE(p.At(w / 2, k) == rings[k].topLeft && p.At(k, h / 2) == rings[k].topLeft) << rings[k].name;
        EXPECT_TRUE(p.At(w / 2, h - 1 - k) == rings[k].bottomRight && p.At(w - 1 - k, h / 2) == rings[k].bottomRight)
            << rings[k].name;
    }

    // A caption is cut to 255 characters: blanks, then one letter at the right end.
    for (const int blanks : {254, 255}) {
        panel->control->SetText(std::string(static_cast<std::size_t>(blanks), ' ') + "M");
        Pump();
        const TPixels shown = ClientPixels(window);
        int ink = 0;
        for (int y = 3; y < h - 3; ++y)
            for (int x = 3; x < w - 3; ++x) ink += shown.At(x, y) != face;
        EXPECT_EQ(ink > 0, blanks + 1 <= 255) << blanks << " blanks and a letter";
    }
}

}  // namespace
