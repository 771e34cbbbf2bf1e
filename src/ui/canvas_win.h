#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <initializer_list>
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
    Gdiplus::StringFormat wrapFar;  // right-aligned, vertically centred

    std::unique_ptr<Gdiplus::Font> regular;     // base
    std::unique_ptr<Gdiplus::Font> regular080;  // 0.8 base
    std::unique_ptr<Gdiplus::Font> regular066;  // 0.66 base
    std::unique_ptr<Gdiplus::Font> regular055;  // 0.55 base, for the longest status lines
    std::unique_ptr<Gdiplus::Font> bold;        // base
    std::unique_ptr<Gdiplus::Font> bold080;     // 0.8 base
    std::unique_ptr<Gdiplus::Font> bold066;     // 0.66 base
    std::unique_ptr<Gdiplus::Font> bold250;     // 2.5 base
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
// The same for texts that share one size (a row of buttons): the first font in which every one fits.
struct FittedText {
    WString text;
    Gdiplus::RectF rect;
};
[[nodiscard]] const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics,
                                               const std::vector<FittedText>& texts,
                                               std::initializer_list<const Gdiplus::Font*> fonts,
                                               const Gdiplus::StringFormat& format);

// The status line: white, left-aligned, vertically centred in `area`, one row per line in the largest
// of the base, 0.8 and 0.66 sizes where no line needs breaking; where every size needs it, the
// largest in which the rows fit, down to 0.55 (lines broken between words, further rows of an entry
// indented).
void drawStatusText(Canvas& canvas, Gdiplus::Graphics& graphics, const IntRect& area, const WString& text);
// How drawStatusText would show the text: its size in pixels and how many of its rows fit.
struct StatusTextFit {
    float fontSize = 0;
    size_t rowsShown = 0;
    size_t rows = 0;
};
[[nodiscard]] StatusTextFit fitStatusText(Canvas& canvas, Gdiplus::Graphics& graphics, const IntRect& area,
                                          const WString& text);

// Lines of text broken at its line feeds, in the first of `fonts` in which every line fits the
// width and all of them the height of `area`; when none does, in the last, with the lines that are
// still too wide broken between words. Each line is measured and drawn on its own, so that one
// line too wide never takes the lines after it with it.
struct LinesFit {
    const Gdiplus::Font* font = nullptr;
    std::vector<WString> lines;
    float lineHeight = 0;
    float widest = 0;
    size_t linesShown = 0;  // whole lines that fit the height
};
[[nodiscard]] LinesFit fitLines(Gdiplus::Graphics& graphics, const WString& text,
                                std::initializer_list<const Gdiplus::Font*> fonts,
                                const Gdiplus::RectF& area);
// Draws the lines left-aligned, the block centred in the area's height.
void drawLines(Gdiplus::Graphics& graphics, const LinesFit& fit, const Gdiplus::RectF& area,
               const Gdiplus::Brush& brush);

[[nodiscard]] Gdiplus::RectF toRectF(const FloatRect& rect);
[[nodiscard]] Gdiplus::RectF toRectF(const IntRect& rect);
