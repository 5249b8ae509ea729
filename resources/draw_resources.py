#!/usr/bin/python3
"""Draws the program's icon (icon0.ico) and the About picture (bitmap0.bmp).

Needs Debian's Pillow:   apt-get install -y --no-install-recommends python3-pil
Regenerate:              /usr/bin/python3 resources/draw_resources.py

Everything is drawn oversized and box-filtered down, so edges are smooth.
The .ico and .bmp containers are written by hand: the icon keeps plain DIB
entries (with AND masks) for its small images and PNG for the large one,
the picture is a 24-bit bottom-up BMP. Same bytes on every run.
"""
import io
import math
import struct
from pathlib import Path

from PIL import Image, ImageDraw, ImageFilter

HERE = Path(__file__).resolve().parent


class Vgrad:
    """Top-to-bottom colour ramp across a shape."""
    def __init__(self, top, bottom):
        self.top, self.bottom = top, bottom

    def ramp(self, canvas, box):
        w, h = box[2] - box[0], box[3] - box[1]
        return Image.linear_gradient("L").resize((w, h), Image.BILINEAR)


class Rgrad:
    """Round colour ramp from `centre` (design units) out to `radius`."""
    def __init__(self, inner, outer, centre, radius):
        self.top, self.bottom = inner, outer
        self.centre, self.radius = centre, radius

    def ramp(self, canvas, box):
        r = max(1, round(self.radius * canvas.s))
        spot = Image.radial_gradient("L").resize((2 * r, 2 * r), Image.BILINEAR)
        t = Image.new("L", (box[2] - box[0], box[3] - box[1]), 255)
        cx, cy = (round(v * canvas.s) for v in self.centre)
        t.paste(spot, (cx - r - box[0], cy - r - box[1]))
        return t


def rgba(c):
    return tuple(c) + (255,) if len(c) == 3 else tuple(c)


class Canvas:
    """RGBA picture addressed in design units but drawn `scale` times larger."""
    def __init__(self, w, h, scale):
        self.w, self.h, self.s = w, h, scale
        self.img = Image.new("RGBA", (round(w * scale), round(h * scale)), (0, 0, 0, 0))

    # Shape masks.
    def _mask(self, draw):
        m = Image.new("L", self.img.size, 0)
        draw(ImageDraw.Draw(m))
        return m

    def rrect(self, box, r):
        return self._mask(lambda d: d.rounded_rectangle(
            [v * self.s for v in box], radius=r * self.s, fill=255))

    def ellipse(self, box):
        return self._mask(lambda d: d.ellipse([v * self.s for v in box], fill=255))

    def circle(self, cx, cy, r):
        return self.ellipse((cx - r, cy - r, cx + r, cy + r))

    def poly(self, pts):
        return self._mask(lambda d: d.polygon([(x * self.s, y * self.s) for x, y in pts], fill=255))

    def line(self, pts, width):
        """Polyline with round joints and round ends."""
        s, r = self.s, width * self.s / 2

        def draw(d):
            d.line([(x * s, y * s) for x, y in pts], fill=255, width=round(width * s), joint="curve")
            for x, y in (pts[0], pts[-1]):
                d.ellipse((x * s - r, y * s - r, x * s + r, y * s + r), fill=255)
        return self._mask(draw)

    # Painting through a mask.
    def paint(self, mask, fill, blur=0):
        if blur:
            mask = mask.filter(ImageFilter.GaussianBlur(blur * self.s))
        box = mask.getbbox()
        if not box:
            return
        if isinstance(fill, (Vgrad, Rgrad)):
            t = fill.ramp(self, box)
            a, b = rgba(fill.top), rgba(fill.bottom)
            bands = [t.point([round(a[i] + (b[i] - a[i]) * v / 255) for v in range(256)])
                     for i in range(4)]
            layer = Image.merge("RGBA", bands)
        else:
            layer = Image.new("RGBA", (box[2] - box[0], box[3] - box[1]), rgba(fill))
        alpha = Image.composite(layer.getchannel("A"), Image.new("L", layer.size, 0), mask.crop(box))
        layer.putalpha(alpha)
        self.img.alpha_composite(layer, dest=box[:2])

    def result(self):
        return self.img.resize((self.w, self.h), Image.BOX)


def bezier(p0, p1, p2, p3, n=48):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append(tuple(u**3 * a + 3 * u * u * t * b + 3 * u * t * t * c + t**3 * d
                         for a, b, c, d in zip(p0, p1, p2, p3)))
    return pts


# Palette.
INK = (45, 55, 72)
SLATE = (74, 88, 108)
SCREEN = Vgrad((84, 156, 230), (43, 104, 184))
RED = (229, 57, 53)
LED_GREEN, LED_AMBER, LED_OFF = (74, 222, 128), (251, 191, 36), (40, 50, 64)
CABLE = (58, 69, 86)


def draw_rays(c, cx, cy, r, inner, outer, width, count=9):
    """Short strokes fanned over the top half of a lamp: it is lit."""
    for k in range(count):
        a = math.radians(180 + 180 / (count - 1) * k)
        c.paint(c.line([(cx + (r + inner) * math.cos(a), cy + (r + inner) * math.sin(a)),
                        (cx + (r + outer) * math.cos(a), cy + (r + outer) * math.sin(a))], width), (255, 122, 89))


def draw_lamp(c, cx, cy, r, glow=0.0, rim=0.0):
    """The device's red lamp, switched on: halo, glossy dome, highlight."""
    if glow:
        c.paint(c.circle(cx, cy, r * glow), Rgrad((255, 92, 70, 120), (255, 92, 70, 0), (cx, cy), r * glow))
    if rim:
        c.paint(c.circle(cx, cy, r + rim), (140, 18, 22))
    # Lit from the upper left: bright there, deep red at the far edge.
    c.paint(c.circle(cx, cy, r), Rgrad((255, 138, 120), (176, 24, 28), (cx - r * 0.35, cy - r * 0.4), r * 1.55))
    c.paint(c.ellipse((cx - r * 0.62, cy - r * 0.78, cx + r * 0.12, cy - r * 0.28)), (255, 255, 255, 215))


def draw_modem(c, x0, y0, x1, y1, leds):
    """A flat external modem: light top face, dark front with a row of LEDs."""
    depth = (y1 - y0) * 0.42
    c.paint(c.poly([(x0 + depth * 0.6, y0), (x1 - depth * 0.6, y0), (x1, y0 + depth + 2), (x0, y0 + depth + 2)]),
            Vgrad((118, 134, 156), (92, 107, 128)))
    c.paint(c.rrect((x0, y0 + depth, x1, y1), (y1 - y0) * 0.16), Vgrad(SLATE, INK))
    c.paint(c.rrect((x0, y0 + depth, x1, y0 + depth + (y1 - y0) * 0.06), 1), (255, 255, 255, 40))
    fy = y0 + depth + (y1 - y0 - depth) * 0.55
    step = (x1 - x0) / (len(leds) + 1)
    lr = min(step * 0.22, (y1 - y0) * 0.1)
    for i, col in enumerate(leds):
        lx = x0 + step * (i + 1)
        if col != LED_OFF:
            c.paint(c.circle(lx, fy, lr * 1.9), Rgrad(col + (90,), col + (0,), (lx, fy), lr * 1.9))
        c.paint(c.circle(lx, fy, lr), col)


def draw_scene():
    W, H = 663, 412
    c = Canvas(W, H, 4)
    c.paint(c.rrect((-10, -10, W + 10, H + 10), 0), Vgrad((247, 250, 253), (226, 234, 243)))
    c.paint(c.circle(150, 175, 150), (233, 241, 250))
    c.paint(c.circle(578, 165, 118), (252, 236, 232))
    c.paint(c.rrect((20, 336, 643, 340), 2), (211, 221, 233))  # desk edge

    # Serial cable from behind the monitor to the modem.
    cable = bezier((236, 200), (300, 204), (282, 292), (316, 292))
    c.paint(c.line(cable, 6), CABLE)
    c.paint(c.rrect((306, 285, 322, 299), 3), Vgrad((160, 172, 188), (120, 133, 150)))
    # Computer: monitor, stand, keyboard, mouse.
    c.paint(c.ellipse((70, 318, 290, 342)), (30, 41, 59, 70), blur=5)
    c.paint(c.poly([(133, 214), (163, 214), (170, 278), (126, 278)]), Vgrad((170, 181, 196), (137, 150, 168)))
    c.paint(c.rrect((98, 272, 198, 284), 6), Vgrad((150, 162, 179), (112, 126, 145)))
    c.paint(c.rrect((36, 56, 260, 222), 12), INK)
    c.paint(c.rrect((36, 200, 260, 222), 10), SLATE)
    c.paint(c.rrect((36, 200, 260, 206), 0), SLATE)
    c.paint(c.circle(148, 211, 2.6), LED_GREEN)
    c.paint(c.rrect((46, 66, 250, 196), 5), SCREEN)
    c.paint(c.poly([(46, 66), (150, 66), (86, 196), (46, 196)]), (255, 255, 255, 22))
    # The program's window on the screen: lamp lit, switch on.
    c.paint(c.rrect((76, 86, 220, 182), 6), (0, 0, 0, 40), blur=3)
    c.paint(c.rrect((74, 82, 218, 178), 6), (255, 255, 255))
    c.paint(c.rrect((74, 82, 218, 98), 6), (226, 232, 240))
    c.paint(c.rrect((74, 92, 218, 98), 0), (226, 232, 240))
    c.paint(c.circle(84, 90, 3.6), RED)
    c.paint(c.rrect((93, 88, 130, 92), 2), (160, 174, 192))
    draw_lamp(c, 112, 134, 17)
    c.paint(c.rrect((144, 118, 196, 140), 11), (56, 193, 114))
    c.paint(c.circle(185, 129, 8.5), (255, 255, 255))
    c.paint(c.rrect((144, 152, 206, 157), 2.5), (203, 213, 225))
    c.paint(c.rrect((144, 164, 186, 169), 2.5), (203, 213, 225))
    # Keyboard.
    c.paint(c.rrect((52, 292, 238, 332), 7), Vgrad((236, 240, 245), (203, 212, 223)))
    c.paint(c.rrect((52, 328, 238, 334), 4), (170, 182, 198))
    for row in range(3):
        for k in range(12):
            x = 61 + k * 14.4 + (row % 2) * 3
            c.paint(c.rrect((x, 298 + row * 7.5, x + 11, 303.5 + row * 7.5), 1.6), (255, 255, 255))
    c.paint(c.rrect((100, 320.5, 190, 325.5), 1.6), (255, 255, 255))
    c.paint(c.rrect((252, 306, 272, 332), 10), Vgrad((250, 251, 253), (205, 213, 224)))
    c.paint(c.rrect((261.3, 309, 262.7, 317), 0.7), (170, 182, 198))

    # Modem.
    c.paint(c.ellipse((312, 316, 478, 338)), (30, 41, 59, 70), blur=5)
    c.paint(c.rrect((330, 322, 346, 330), 2), INK)
    c.paint(c.rrect((444, 322, 460, 330), 2), INK)
    draw_modem(c, 320, 252, 472, 326, [LED_GREEN, LED_GREEN, LED_AMBER, LED_OFF, LED_GREEN])
    for i in range(5):
        x = 358 + i * 16
        c.paint(c.line([(x, 258), (x + 8, 258)], 2.6), (78, 92, 112))

    # Telephone line from the modem to the device, a lightning badge on it.
    line = bezier((472, 300), (500, 300), (508, 256), (536, 250))
    c.paint(c.line(line, 4.5), CABLE)
    c.paint(c.rrect((466, 293, 480, 307), 3), (196, 206, 219))
    bx, by = 504, 274
    c.paint(c.circle(bx + 1, by + 3, 19), (30, 41, 59, 60), blur=3)
    c.paint(c.circle(bx, by, 19), (255, 255, 255))
    c.paint(c.circle(bx, by, 15.5), Vgrad((255, 210, 90), (250, 176, 30)))
    c.paint(c.poly([(bx + 3, by - 11), (bx - 7, by + 2), (bx - 0.5, by + 2), (bx - 3, by + 11),
                    (bx + 7, by - 2), (bx + 0.5, by - 2)]), INK)

    # The switched device: a cabinet with a lit red lamp on top.
    c.paint(c.ellipse((522, 318, 652, 340)), (30, 41, 59, 70), blur=5)
    c.paint(c.rrect((530, 196, 642, 328), 12), (148, 163, 184))
    c.paint(c.rrect((533, 199, 639, 325), 10), Vgrad((250, 252, 254), (226, 232, 240)))
    c.paint(c.rrect((530, 236, 642, 240), 0), (203, 213, 225))
    for i in range(4):
        c.paint(c.line([(552, 262 + i * 12), (590, 262 + i * 12)], 4), (203, 213, 225))
    c.paint(c.circle(616, 280, 11), (148, 163, 184))
    c.paint(c.circle(616, 280, 8.5), Vgrad((250, 252, 254), (214, 222, 232)))
    c.paint(c.line([(616, 280), (621, 275)], 2.6), INK)
    c.paint(c.circle(616, 218, 4), LED_GREEN)
    lx, ly, lr = 586, 142, 34
    draw_rays(c, lx, ly, lr, 14, 30, 5)
    c.paint(c.rrect((562, 168, 610, 198), 5), Vgrad((160, 172, 188), (110, 123, 141)))
    c.paint(c.rrect((558, 190, 614, 199), 3), (92, 107, 128))
    draw_lamp(c, lx, ly, lr, glow=2.2)
    return c.result()


def draw_icon(size):
    """Red lamp on a small modem. At 16 and 32 px the lamp is bigger, with a dark
    rim and no rays, so it still reads as a lamp."""
    c = Canvas(150, 150, 8 * size / 150)
    if size <= 32:
        draw_modem(c, 6, 90, 144, 146, [LED_GREEN, LED_AMBER, LED_GREEN] if size == 32 else [])
        draw_lamp(c, 75, 56, 50, rim=8 if size == 16 else 5)
    else:
        draw_modem(c, 10, 92, 140, 140, [LED_GREEN, LED_GREEN, LED_AMBER, LED_GREEN])
        c.paint(c.rrect((56, 74, 94, 98), 6), Vgrad((160, 172, 188), (110, 123, 141)))
        draw_rays(c, 75, 60, 32, 9, 21, 6, count=7)
        draw_lamp(c, 75, 60, 32, rim=2.5)
    return c.img.resize((size, size), Image.BOX)


def write_bmp(img, path):
    w, h = img.size
    raw = img.convert("RGB").tobytes("raw", "BGR")
    stride = (w * 3 + 3) & ~3
    pixels = b"".join(raw[y * w * 3:(y + 1) * w * 3].ljust(stride, b"\0") for y in reversed(range(h)))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    path.write_bytes(head + info + pixels)


def icon_dib(img):
    """One icon image as a DIB: BGRA rows bottom-up, then the 1-bit AND mask."""
    w, h = img.size
    alpha = img.getchannel("A")
    img = Image.composite(img, Image.new("RGBA", img.size, 0), alpha.point(lambda a: 255 if a else 0))
    raw = img.tobytes("raw", "BGRA")
    colour = b"".join(raw[y * w * 4:(y + 1) * w * 4] for y in reversed(range(h)))
    stride = (w + 31) // 32 * 4
    opaque = alpha.tobytes()
    mask = b""
    for y in reversed(range(h)):
        bits = bytearray(stride)
        for x in range(w):
            if opaque[y * w + x] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + colour + mask


def icon_png(img):
    """One icon image as PNG, as icons keep their large images: the 150-pixel
    image would take 90 KB as a DIB, a tenth of the whole program."""
    out = io.BytesIO()
    img.save(out, "PNG", optimize=True)
    return out.getvalue()


def write_ico(images, path):
    dibs = [icon_png(im) if im.size[0] > 64 else icon_dib(im) for im in images]
    out = struct.pack("<HHH", 0, 1, len(dibs))
    offset = len(out) + 16 * len(dibs)
    for im, dib in zip(images, dibs):
        w, h = im.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(dib), offset)
        offset += len(dib)
    path.write_bytes(out + b"".join(dibs))


if __name__ == "__main__":
    write_ico([draw_icon(n) for n in (16, 32, 150)], HERE / "icon0.ico")
    write_bmp(draw_scene(), HERE / "bitmap0.bmp")
