#pragma once
// GDI objects of the layer and of the elements that draw. Every font, brush,
// pen, region, bitmap, device context and icon copy is made and deleted
// through here: the system's own counts are not available everywhere (Wine
// reports none), and these let a test tell that nothing leaks.

#include <windows.h>

struct TGdiCounts {
    long Objects = 0;  // fonts, brushes, pens, regions, bitmaps
    long DCs = 0;      // window DCs held and memory DCs
    long Icons = 0;    // icon copies
};
TGdiCounts LiveGdi();

// Counts a newly made object (the handle as given; null is not counted).
HGDIOBJ GdiTrackObject(HGDIOBJ object);
template <class H>
H GdiTrack(H object) {
    return static_cast<H>(GdiTrackObject(object));
}
// DeleteObject of an object made through GdiTrack; null does nothing. A
// font, brush or pen still selected into a DC the layer uses is selected out
// first: Windows does not delete a selected object, and it would leak.
void GdiDelete(HGDIOBJ object);

// Owns one GDI object, counted from the making; it is deleted (selected out
// first) when the holder goes or gets another.
template <class H>
class TGdiHandle {
public:
    TGdiHandle() = default;
    explicit TGdiHandle(H object) : object_(GdiTrack(object)) {}
    ~TGdiHandle() { GdiDelete(object_); }
    TGdiHandle(const TGdiHandle&) = delete;
    TGdiHandle& operator=(const TGdiHandle&) = delete;
    TGdiHandle& operator=(TGdiHandle&& other) noexcept {
        if (this != &other) {
            GdiDelete(object_);
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    H get() const { return object_; }
    operator H() const { return object_; }

private:
    H object_ = nullptr;
};

HICON GdiTrackIcon(HICON icon);
void GdiDestroyIcon(HICON icon);

// GetDC/ReleaseDC and CreateCompatibleDC/DeleteDC, counted. Prefer the
// scoped classes below; these are for DCs held across calls.
HDC GdiGetDC(HWND window);
void GdiReleaseDC(HWND window, HDC dc);
HDC GdiCreateMemoryDC(HDC compatible);
void GdiDeleteDC(HDC dc);

// A DC the layer did not get through here (a paint DC) made known to
// GdiDelete for one scope.
class TGdiDCInUse {
public:
    explicit TGdiDCInUse(HDC dc);
    ~TGdiDCInUse();
    TGdiDCInUse(const TGdiDCInUse&) = delete;
    TGdiDCInUse& operator=(const TGdiDCInUse&) = delete;

private:
    HDC dc_;
};

// A window's DC for one scope.
class TWindowDC {
public:
    explicit TWindowDC(HWND window);  // null window: the screen
    ~TWindowDC();
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Handle() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A memory DC compatible with another (null: the screen) for one scope.
class TMemoryDC {
public:
    explicit TMemoryDC(HDC compatible);
    ~TMemoryDC();
    TMemoryDC(const TMemoryDC&) = delete;
    TMemoryDC& operator=(const TMemoryDC&) = delete;
    HDC Handle() const { return dc_; }

private:
    HDC dc_;
};

// Selects an object into a DC for one scope and selects the previous one
// back at the end, so the object can really be deleted afterwards.
class TGdiSelect {
public:
    TGdiSelect(HDC dc, HGDIOBJ object);
    ~TGdiSelect();
    TGdiSelect(const TGdiSelect&) = delete;
    TGdiSelect& operator=(const TGdiSelect&) = delete;
    // Selects another object; the one selected first still comes back at the end.
    void Change(HGDIOBJ object);

private:
    HDC dc_;
    HGDIOBJ previous_;
};
