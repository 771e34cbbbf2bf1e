#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <memory>
#include <vector>

#include "base/unique_handle.h"
#include "ui/geometry.h"
#include "ui/widgets.h"

struct GdiObjectTraits {
    using Native = HGDIOBJ;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::DeleteObject(h); }
};
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;

struct MemoryDcTraits {
    using Native = HDC;
    static Native empty() { return nullptr; }
    static bool isValid(Native h) { return h != nullptr; }
    static void close(Native h) { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// A picture scaled once at start-up and held as a cached bitmap, so each frame only blits it.
struct Picture {
    std::unique_ptr<Gdiplus::CachedBitmap> cached;
    PixelSize size;
};

// The colours of the window (ARGB).
namespace colours {
inline constexpr Gdiplus::ARGB kBlack = 0xFF000000;
inline constexpr Gdiplus::ARGB kLightGrey = 0xFFE6E6E6;
inline constexpr Gdiplus::ARGB kTranslucentWhite = 0x96FFFFFF;
inline constexpr Gdiplus::ARGB kWhite = 0xFFFFFFFF;
inline constexpr Gdiplus::ARGB kGold = 0xFFFFD700;
inline constexpr Gdiplus::ARGB kBronze = 0xE1CAA442;
inline constexpr Gdiplus::ARGB kBronzeLine = 0xBECAA442;
inline constexpr Gdiplus::ARGB kShadeLight = 0x4C000000;
inline constexpr Gdiplus::ARGB kShadeMedium = 0x7D000000;
inline constexpr Gdiplus::ARGB kShadeDark = 0xE6000000;
}  // namespace colours

// The drawing resources, created once the window's size and the font base size are known. Window
// thread only; every GDI+ object is owned here.
struct Canvas {
    Canvas(int32_t width, int32_t height, int32_t fontBase, const Gdiplus::FontFamily& family);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int32_t width;
    int32_t height;
    int32_t fontBase;

    // The back buffer: a 32-bit ARGB bitmap over the pixels of a DIB section, so the finished frame
    // goes to the window with one BitBlt. Declared before the GDI+ objects that use its memory.
    UniqueGdiObject dibSection;
    UniqueMemoryDc memoryDc;
    uint32_t* pixels = nullptr;  // the DIB's pixels, top-down rows; null without a DIB section
    // What never changes under the frame (the background with its shaded strip and panel), kept
    // as pixels: each frame starts with a copy of it instead of composing it again.
    std::vector<uint32_t> basePixels;
    std::unique_ptr<Gdiplus::Bitmap> backBuffer;
    std::unique_ptr<Gdiplus::Graphics> graphics;

    Gdiplus::Pen translucentWhitePen{colours::kTranslucentWhite, 1.0f};
    Gdiplus::Pen bronzePen{colours::kBronzeLine, 1.5f};

    Gdiplus::SolidBrush blackBrush{colours::kBlack};
    Gdiplus::SolidBrush lightGreyBrush{colours::kLightGrey};
    Gdiplus::SolidBrush translucentWhiteBrush{colours::kTranslucentWhite};
    Gdiplus::SolidBrush whiteBrush{colours::kWhite};
    Gdiplus::SolidBrush goldBrush{colours::kGold};
    Gdiplus::SolidBrush bronzeBrush{colours::kBronze};
    Gdiplus::SolidBrush shadeLightBrush{colours::kShadeLight};
    Gdiplus::SolidBrush shadeMediumBrush{colours::kShadeMedium};
    Gdiplus::SolidBrush shadeDarkBrush{colours::kShadeDark};

    // One line, never wrapped, cut with an ellipsis where it does not fit.
    Gdiplus::StringFormat lineNear;
    Gdiplus::StringFormat lineCentred;
    Gdiplus::StringFormat lineFar;
    // Centred both ways without the usual padding around the text: short codes in small buttons.
    std::unique_ptr<Gdiplus::StringFormat> tightCentred;
    std::unique_ptr<Gdiplus::StringFormat> tightNear;
    // A progress label: one line, whole or not at all, vertically centred.
    Gdiplus::StringFormat progressLabel;
    // Wrapped at word boundaries, whole lines only.
    Gdiplus::StringFormat wrapNear;
    Gdiplus::StringFormat wrapCentred;
    Gdiplus::StringFormat wrapFar;  // right-aligned, vertically centred

    std::unique_ptr<Gdiplus::Font> regular;     // base
    std::unique_ptr<Gdiplus::Font> regular080;  // 0.8 base
    std::unique_ptr<Gdiplus::Font> regular066;  // 0.66 base
    std::unique_ptr<Gdiplus::Font> regular055;  // 0.55 base, for the longest status lines
    std::unique_ptr<Gdiplus::Font> bold;        // base
    std::unique_ptr<Gdiplus::Font> bold080;     // 0.8 base
    std::unique_ptr<Gdiplus::Font> bold066;     // 0.66 base
    std::unique_ptr<Gdiplus::Font> bold145;     // 1.45 base
    std::unique_ptr<Gdiplus::Font> small050;    // 0.5 base, for the captions of the top strip

    HCURSOR arrowCursor;
    HCURSOR handCursor;

    SharedPicture background;  // scaled to the window
};

// Copies the back buffer to `target` at 0, 0 with the window's size, or only `area` of it.
void presentBackBuffer(const Canvas& canvas, HDC target);
void presentBackBuffer(const Canvas& canvas, HDC target, const IntRect& area);

// Keeps the back buffer's present content as the base layer of every later frame.
void keepBaseLayer(Canvas& canvas);
// Starts a frame in `area` with the base layer; false when there is none (draw it instead).
[[nodiscard]] bool restoreBaseLayer(Canvas& canvas, const IntRect& area);

// Blits a picture with its top-left corner at (x, y); nothing for a missing picture.
void drawPicture(Gdiplus::Graphics& graphics, const SharedPicture& picture, int32_t x, int32_t y);

// Blits the picture of the button's current look at its top-left corner.
void drawButton(Gdiplus::Graphics& graphics, const ImageButton& button);

[[nodiscard]] Gdiplus::RectF toRectF(const FloatRect& rect);
[[nodiscard]] Gdiplus::RectF toRectF(const IntRect& rect);
