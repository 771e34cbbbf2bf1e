#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <utility>

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
    std::unique_ptr<Gdiplus::Bitmap> backBuffer;
    std::unique_ptr<Gdiplus::Graphics> graphics;

    Gdiplus::Pen blackPen{colours::kBlack, 1.0f};
    Gdiplus::Pen lightGreyPen{colours::kLightGrey, 1.0f};
    Gdiplus::Pen translucentWhitePen{colours::kTranslucentWhite, 1.0f};
    Gdiplus::Pen whitePen{colours::kWhite, 1.0f};
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

    Gdiplus::StringFormat centred;
    Gdiplus::StringFormat nearCentred;  // left-aligned, vertically centred
    Gdiplus::StringFormat farAligned;   // right-aligned
    Gdiplus::StringFormat farCentred;   // right-aligned, vertically centred
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

    std::unique_ptr<Gdiplus::Font> regular;     // base
    std::unique_ptr<Gdiplus::Font> regular080;  // 0.8 base
    std::unique_ptr<Gdiplus::Font> regular066;  // 0.66 base
    std::unique_ptr<Gdiplus::Font> bold;        // base
    std::unique_ptr<Gdiplus::Font> bold080;     // 0.8 base
    std::unique_ptr<Gdiplus::Font> bold250;     // 2.5 base
    std::unique_ptr<Gdiplus::Font> bold145;     // 1.45 base
    std::unique_ptr<Gdiplus::Font> small050;    // 0.5 base, for the captions of the top strip

    HCURSOR arrowCursor;
    HCURSOR handCursor;

    SharedPicture background;  // scaled to the window
};

// Copies the back buffer to `target` at 0, 0 with the window's size.
void presentBackBuffer(const Canvas& canvas, HDC target);

// Decodes the resource of type "PNG" with this id from `module`; null when it is missing or does
// not decode. The bytes are copied into movable global memory owned by the stream, so the bitmap
// never points into the module's mapped resource.
[[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> loadPngResource(HMODULE module, int32_t id);

// A copy of `source` at `size`, in the source's pixel format; null on failure.
[[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> resizedBitmap(Gdiplus::Bitmap& source, PixelSize size);

// A cached bitmap of `image` for fast blits; null when GDI+ cannot make one.
[[nodiscard]] SharedPicture makePicture(Gdiplus::Bitmap& image);

// The pictures of one window, scaled once and shared: every button that shows the same picture at
// the same size holds the same cached bitmap.
class PictureStore {
public:
    PictureStore(HMODULE module, double scale) : module(module), scale(scale) {}

    // The picture at the window's scale; null when the resource is missing or broken.
    [[nodiscard]] SharedPicture scaled(int32_t id);
    // The picture drawn `height` pixels high in its own proportions.
    [[nodiscard]] SharedPicture atHeight(int32_t id, int32_t height);
    // The size the picture has at the window's scale, from its decoded size; empty when missing.
    [[nodiscard]] PixelSize scaledSize(int32_t id);

private:
    // Decoded once per id: several sizes of one picture come from the same decode.
    Gdiplus::Bitmap* source(int32_t id);
    [[nodiscard]] SharedPicture sized(int32_t id, PixelSize size);

    HMODULE module;
    double scale;
    std::map<int32_t, std::unique_ptr<Gdiplus::Bitmap>> sources;
    std::map<std::pair<int32_t, std::pair<int32_t, int32_t>>, SharedPicture> pictures;
};

// Blits a picture with its top-left corner at (x, y); nothing for a missing picture.
void drawPicture(Gdiplus::Graphics& graphics, const SharedPicture& picture, int32_t x, int32_t y);

// Blits the picture of the button's current look at its top-left corner.
void drawButton(Gdiplus::Graphics& graphics, const ImageButton& button);

// Text in a rectangle with a format and a brush.
void drawText(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
              const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format, const Gdiplus::Brush& brush);
// The size the text takes, wrapped at `maxWidth` (unwrapped when the format says so).
[[nodiscard]] Gdiplus::SizeF measureText(Gdiplus::Graphics& graphics, const WString& text,
                                         const Gdiplus::Font& font, float maxWidth = 10000.0f,
                                         float maxHeight = 10000.0f,
                                         const Gdiplus::StringFormat* format = nullptr);
// The first of `fonts` in which the text fits the rectangle (wrapped unless the format forbids it),
// else the last.
[[nodiscard]] const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics, const WString& text,
                                               std::initializer_list<const Gdiplus::Font*> fonts,
                                               const Gdiplus::RectF& rect,
                                               const Gdiplus::StringFormat& format);

[[nodiscard]] Gdiplus::RectF toRectF(const FloatRect& rect);
[[nodiscard]] Gdiplus::RectF toRectF(const IntRect& rect);
