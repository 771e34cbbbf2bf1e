#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <initializer_list>
#include <vector>

#include "base/wstring.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"

// Texts in the window: measuring, and choosing the largest of the window's font sizes in which a
// text fits its area. Every such choice of the window goes through largestFitting.

// How much of its area's width a measured text may take: measuring and drawing do not always agree
// to the pixel, and a text measured to the last pixel may lose its end when drawn.
inline constexpr float kFitSlack = 0.97f;

// The size of the text laid out with `format` without wrapping (its own line feeds still break it).
[[nodiscard]] Gdiplus::SizeF measureLine(Gdiplus::Graphics& graphics, const WString& text,
                                         const Gdiplus::Font& font, const Gdiplus::StringFormat& format);
// The size of the text laid out with `format`, wrapped at `width`.
[[nodiscard]] Gdiplus::SizeF measureWrapped(Gdiplus::Graphics& graphics, const WString& text,
                                            const Gdiplus::Font& font, float width,
                                            const Gdiplus::StringFormat& format);

// The first of `fonts` (largest first) for which `fits(font)` holds; the last when none of the
// others does. The last is never tried: there is nothing smaller to fall back to.
template <typename Fits>
[[nodiscard]] const Gdiplus::Font& largestFitting(std::initializer_list<const Gdiplus::Font*> fonts,
                                                  Fits&& fits) {
    const Gdiplus::Font* const* last = fonts.end() - 1;
    for (const Gdiplus::Font* const* font = fonts.begin(); font != last; ++font) {
        if (fits(**font)) return **font;
    }
    return **last;
}

// Text in a rectangle with a format and a brush.
void drawText(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
              const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format, const Gdiplus::Brush& brush);

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
// How drawStatusText would show the text: how many of its rows fit.
struct StatusTextFit {
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
