#include "ui/canvas_win.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "ui/status_rows.h"

namespace {

std::unique_ptr<Gdiplus::Font> makeFont(const Gdiplus::FontFamily& family, double size, INT style) {
    return std::make_unique<Gdiplus::Font>(&family, static_cast<Gdiplus::REAL>(size), style,
                                           Gdiplus::UnitPixel);
}

void setFormat(Gdiplus::StringFormat& format, Gdiplus::StringAlignment horizontal,
               Gdiplus::StringAlignment vertical) {
    format.SetAlignment(horizontal);
    format.SetLineAlignment(vertical);
}

}  // namespace

Canvas::Canvas(int32_t width, int32_t height, int32_t fontBase, const Gdiplus::FontFamily& family)
    : width(width), height(height), fontBase(fontBase) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, like the GDI+ bitmap over it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dibSection.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    memoryDc.reset(CreateCompatibleDC(nullptr));
    if (dibSection && memoryDc && bits) {
        SelectObject(memoryDc.get(), dibSection.get());
        pixels = static_cast<uint32_t*>(bits);
        backBuffer = std::make_unique<Gdiplus::Bitmap>(width, height, width * 4, PixelFormat32bppARGB,
                                                       static_cast<BYTE*>(bits));
    } else {
        // Without GDI memory the frame is still drawn, then copied through GDI+.
        backBuffer = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
    }
    graphics = std::make_unique<Gdiplus::Graphics>(backBuffer.get());
    graphics->SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);

    setFormat(centred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    setFormat(nearCentred, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    setFormat(farAligned, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentNear);
    setFormat(farCentred, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);
    // No line limit here: a row lower than the font's line spacing must still show its line.
    for (Gdiplus::StringFormat* line : {&lineNear, &lineCentred, &lineFar}) {
        line->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
        line->SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    }
    tightCentred.reset(Gdiplus::StringFormat::GenericTypographic()->Clone());
    tightCentred->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip);
    setFormat(*tightCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    tightNear.reset(Gdiplus::StringFormat::GenericTypographic()->Clone());
    // A caption a few pixels too wide may run into the gap after its button rather than lose letters.
    tightNear->SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsNoClip);
    tightNear->SetTrimming(Gdiplus::StringTrimmingNone);
    setFormat(*tightNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    progressLabel.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap | Gdiplus::StringFormatFlagsLineLimit);
    setFormat(progressLabel, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    setFormat(lineNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentCenter);
    setFormat(lineCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    setFormat(lineFar, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);
    wrapNear.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    wrapCentred.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    wrapFar.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    setFormat(wrapNear, Gdiplus::StringAlignmentNear, Gdiplus::StringAlignmentNear);
    setFormat(wrapCentred, Gdiplus::StringAlignmentCenter, Gdiplus::StringAlignmentCenter);
    setFormat(wrapFar, Gdiplus::StringAlignmentFar, Gdiplus::StringAlignmentCenter);

    const double base = fontBase;
    regular = makeFont(family, base, Gdiplus::FontStyleRegular);
    regular080 = makeFont(family, base * 0.8, Gdiplus::FontStyleRegular);
    regular066 = makeFont(family, base * 0.66, Gdiplus::FontStyleRegular);
    regular055 = makeFont(family, base * 0.55, Gdiplus::FontStyleRegular);
    bold = makeFont(family, base, Gdiplus::FontStyleBold);
    bold080 = makeFont(family, base * 0.8, Gdiplus::FontStyleBold);
    bold066 = makeFont(family, base * 0.66, Gdiplus::FontStyleBold);
    bold250 = makeFont(family, base * 2.5, Gdiplus::FontStyleBold);
    bold145 = makeFont(family, base * 1.45, Gdiplus::FontStyleBold);
    small050 = makeFont(family, base * 0.5, Gdiplus::FontStyleRegular);

    arrowCursor = LoadCursorW(nullptr, IDC_ARROW);
    handCursor = LoadCursorW(nullptr, IDC_HAND);
}

void presentBackBuffer(const Canvas& canvas, HDC target, const IntRect& area) {
    if (canvas.memoryDc && canvas.dibSection) {
        BitBlt(target, area.left, area.top, area.width, area.height, canvas.memoryDc.get(), area.left,
               area.top, SRCCOPY);
        return;
    }
    presentBackBuffer(canvas, target);
}

void keepBaseLayer(Canvas& canvas) {
    if (!canvas.pixels) return;
    canvas.graphics->Flush(Gdiplus::FlushIntentionSync);
    canvas.basePixels.assign(canvas.pixels,
                             canvas.pixels + static_cast<size_t>(canvas.width) * canvas.height);
}

bool restoreBaseLayer(Canvas& canvas, const IntRect& area) {
    if (!canvas.pixels || canvas.basePixels.empty()) return false;
    const int32_t left = std::max(0, area.left);
    const int32_t right = std::min(canvas.width, area.right());
    if (right <= left) return true;
    for (int32_t y = std::max(0, area.top); y < std::min(canvas.height, area.bottom()); ++y) {
        const size_t row = static_cast<size_t>(y) * canvas.width;
        std::copy(canvas.basePixels.begin() + static_cast<std::ptrdiff_t>(row + left),
                  canvas.basePixels.begin() + static_cast<std::ptrdiff_t>(row + right),
                  canvas.pixels + row + left);
    }
    return true;
}

void presentBackBuffer(const Canvas& canvas, HDC target) {
    if (canvas.memoryDc && canvas.dibSection) {
        BitBlt(target, 0, 0, canvas.width, canvas.height, canvas.memoryDc.get(), 0, 0, SRCCOPY);
        return;
    }
    Gdiplus::Graphics screen(target);
    screen.DrawImage(canvas.backBuffer.get(), 0, 0, canvas.width, canvas.height);
}

void drawPicture(Gdiplus::Graphics& graphics, const SharedPicture& picture, int32_t x, int32_t y) {
    if (picture && picture->cached) graphics.DrawCachedBitmap(picture->cached.get(), x, y);
}

void drawButton(Gdiplus::Graphics& graphics, const ImageButton& button) {
    drawPicture(graphics, button.images[static_cast<size_t>(buttonLook(button))], button.left, button.top);
}

Gdiplus::RectF toRectF(const FloatRect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

Gdiplus::RectF toRectF(const IntRect& rect) { return toRectF(toFloat(rect)); }

void drawText(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
              const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format, const Gdiplus::Brush& brush) {
    if (text.empty()) return;
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, rect, &format, &brush);
}

Gdiplus::SizeF measureText(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
                           float maxWidth, float maxHeight, const Gdiplus::StringFormat* format) {
    Gdiplus::RectF bounds;
    const Gdiplus::RectF layout(0, 0, maxWidth, maxHeight);
    graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), &font, layout, format, &bounds);
    return {bounds.Width, bounds.Height};
}

const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics, const std::vector<FittedText>& texts,
                                 std::initializer_list<const Gdiplus::Font*> fonts,
                                 const Gdiplus::StringFormat& format) {
    // Measured without trimming or the line limit, so an overflow shows as a larger size.
    Gdiplus::StringFormat measuring(&format);
    measuring.SetTrimming(Gdiplus::StringTrimmingNone);
    const bool oneLine = (format.GetFormatFlags() & Gdiplus::StringFormatFlagsNoWrap) != 0;
    measuring.SetFormatFlags(oneLine ? Gdiplus::StringFormatFlagsNoWrap : 0);
    const Gdiplus::Font* chosen = nullptr;
    for (const Gdiplus::Font* font : fonts) {
        chosen = font;
        bool all = true;
        for (const FittedText& text : texts) {
            const Gdiplus::SizeF size = measureText(
                graphics, text.text, *font, oneLine ? 10000.0f : text.rect.Width, 10000.0f, &measuring);
            // A little room to spare: measuring and drawing do not always agree to the pixel.
            all = all && size.Width <= text.rect.Width * 0.96f && size.Height <= text.rect.Height;
        }
        if (all) break;
    }
    return *chosen;
}

const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics, const WString& text,
                                 std::initializer_list<const Gdiplus::Font*> fonts,
                                 const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format) {
    return fittingFont(graphics, {{text, rect}}, fonts, format);
}

namespace {

std::vector<WString> splitLines(const WString& text) {
    std::vector<WString> lines;
    for (size_t start = 0;;) {
        const size_t end = text.find(L'\n', start);
        lines.push_back(text.substr(start, end == WString::npos ? WString::npos : end - start));
        if (end == WString::npos) return lines;
        start = end + 1;
    }
}

// One line alone: no wrapping, no trimming, nothing cut.
void setSingleLine(Gdiplus::StringFormat& format) {
    format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
    format.SetAlignment(Gdiplus::StringAlignmentNear);
    format.SetLineAlignment(Gdiplus::StringAlignmentNear);
}

}  // namespace

LinesFit fitLines(Gdiplus::Graphics& graphics, const WString& text,
                  std::initializer_list<const Gdiplus::Font*> fonts, const Gdiplus::RectF& area) {
    Gdiplus::StringFormat format;
    setSingleLine(format);
    LinesFit fit;
    auto measure = [&](const WString& line) {
        return measureText(graphics, line.empty() ? L" " : line, *fit.font, 10000.0f, 10000.0f, &format);
    };
    auto measureAll = [&] {
        fit.widest = 0;
        for (const WString& line : fit.lines) {
            const Gdiplus::SizeF size = measure(line);
            fit.widest = std::max(fit.widest, size.Width);
            fit.lineHeight = size.Height;
        }
    };
    // A little room to spare: measuring and drawing do not always agree to the pixel.
    const float room = 0.97f * area.Width;
    bool fits = false;
    for (const Gdiplus::Font* font : fonts) {
        fit.font = font;
        fit.lines = splitLines(text);
        measureAll();
        fits = fit.widest <= room && fit.lineHeight * static_cast<float>(fit.lines.size()) <= area.Height;
        if (fits) break;
    }
    if (!fits && fit.font && fit.widest > room) {
        fit.lines.clear();
        for (StatusRow& row :
             breakStatusRows(text, room, 0, [&](const WString& t) { return measure(t).Width; }))
            fit.lines.push_back(std::move(row.text));
        measureAll();
    }
    const size_t whole = fit.lineHeight > 0 ? static_cast<size_t>(area.Height / fit.lineHeight) : 0;
    fit.linesShown = std::max<size_t>(1, std::min(fit.lines.size(), whole));
    return fit;
}

void drawLines(Gdiplus::Graphics& graphics, const LinesFit& fit, const Gdiplus::RectF& area,
               const Gdiplus::Brush& brush) {
    if (!fit.font) return;
    Gdiplus::StringFormat format;
    setSingleLine(format);
    format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    float top = area.Y + (area.Height - fit.lineHeight * static_cast<float>(fit.linesShown)) / 2;
    for (size_t i = 0; i < fit.linesShown && i < fit.lines.size(); ++i, top += fit.lineHeight) {
        drawText(graphics, fit.lines[i], *fit.font, Gdiplus::RectF(area.X, top, area.Width, fit.lineHeight),
                 format, brush);
    }
}

namespace {

// Further rows of an entry stand this many ems in; a later entry starts this many lines lower.
constexpr float kStatusIndentEm = 1.2f;
constexpr float kStatusEntryGapLines = 0.25f;

struct StatusLayout {
    const Gdiplus::Font* font = nullptr;
    std::vector<StatusRow> rows;
    float indent = 0;
    float lineHeight = 0;
    float height = 0;
    bool broken = false;
};

StatusLayout layoutStatusText(Canvas& c, Gdiplus::Graphics& g, const Gdiplus::Font& font, const WString& text,
                              float width) {
    StatusLayout layout;
    layout.font = &font;
    layout.indent = font.GetSize() * kStatusIndentEm;
    layout.lineHeight = font.GetHeight(&g);
    layout.rows = breakStatusRows(text, width, layout.indent, [&](const WString& row) {
        return measureText(g, row, font, 10000.0f, 10000.0f, &c.lineNear).Width;
    });
    for (const StatusRow& row : layout.rows) {
        layout.height += layout.lineHeight * (row.startsEntry ? 1 + kStatusEntryGapLines : 1);
        layout.broken = layout.broken || row.continuesLine;
    }
    return layout;
}

StatusTextFit placeStatusText(Canvas& c, Gdiplus::Graphics& g, const IntRect& area, const WString& text,
                              bool draw) {
    if (text.empty()) return {};
    // The largest of the base, 0.8 and 0.66 sizes in which no line breaks, else the largest in which
    // the broken rows fit, down to 0.55 for the longest summaries, else that, cut after the last
    // whole row. A little room to spare on the right: measuring and drawing do not always agree to
    // the pixel.
    const float width = area.width * 0.97f;
    std::optional<StatusLayout> firstFitting;
    StatusLayout chosen;
    for (const Gdiplus::Font* font :
         {c.regular.get(), c.regular080.get(), c.regular066.get(), c.regular055.get()}) {
        chosen = layoutStatusText(c, g, *font, text, width);
        const bool fits = chosen.height <= area.height;
        if (fits && !chosen.broken && font != c.regular055.get()) {
            firstFitting = std::move(chosen);
            break;
        }
        if (fits && !firstFitting) firstFitting = chosen;
    }
    if (firstFitting) chosen = std::move(*firstFitting);
    StatusTextFit fit{chosen.font->GetSize(), 0, chosen.rows.size()};
    float y = area.top + std::max(0.0f, (area.height - chosen.height) / 2);
    for (const StatusRow& row : chosen.rows) {
        if (row.startsEntry) y += chosen.lineHeight * kStatusEntryGapLines;
        if (y + chosen.lineHeight > area.bottom() + 0.5f) break;
        const float inset = row.indented ? chosen.indent : 0.0f;
        if (draw) {
            drawText(g, row.text, *chosen.font,
                     Gdiplus::RectF(area.left + inset, y, area.width - inset, chosen.lineHeight), c.lineNear,
                     c.whiteBrush);
        }
        y += chosen.lineHeight;
        ++fit.rowsShown;
    }
    return fit;
}

}  // namespace

void drawStatusText(Canvas& c, Gdiplus::Graphics& g, const IntRect& area, const WString& text) {
    (void)placeStatusText(c, g, area, text, true);
}

StatusTextFit fitStatusText(Canvas& c, Gdiplus::Graphics& g, const IntRect& area, const WString& text) {
    return placeStatusText(c, g, area, text, false);
}
