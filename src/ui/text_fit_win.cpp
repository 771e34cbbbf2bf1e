#include "ui/text_fit_win.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "ui/status_rows.h"

namespace {

// Room enough for any line of the window: a layout this large wraps nothing.
constexpr float kUnbounded = 10000.0f;

Gdiplus::SizeF measure(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
                       float width, const Gdiplus::StringFormat& format) {
    Gdiplus::RectF bounds;
    const Gdiplus::RectF layout(0, 0, width, kUnbounded);
    graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), &font, layout, &format, &bounds);
    return {bounds.Width, bounds.Height};
}

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
        return measureLine(g, row, font, c.lineNear).Width;
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
    // whole row.
    const float width = area.width * kFitSlack;
    std::optional<StatusLayout> firstFitting;
    StatusLayout chosen;
    const Gdiplus::Font& font =
        largestFitting({c.regular.get(), c.regular080.get(), c.regular066.get(), c.regular055.get()},
                       [&](const Gdiplus::Font& candidate) {
                           chosen = layoutStatusText(c, g, candidate, text, width);
                           const bool fits = chosen.height <= area.height;
                           if (fits && !firstFitting) firstFitting = chosen;
                           return fits && !chosen.broken;
                       });
    if (chosen.font != &font)
        chosen = firstFitting ? std::move(*firstFitting) : layoutStatusText(c, g, font, text, width);
    StatusTextFit fit{0, chosen.rows.size()};
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

Gdiplus::SizeF measureLine(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
                           const Gdiplus::StringFormat& format) {
    return measure(graphics, text, font, kUnbounded, format);
}

Gdiplus::SizeF measureWrapped(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
                              float width, const Gdiplus::StringFormat& format) {
    return measure(graphics, text, font, width, format);
}

void drawText(Gdiplus::Graphics& graphics, const WString& text, const Gdiplus::Font& font,
              const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format, const Gdiplus::Brush& brush) {
    if (text.empty()) return;
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, rect, &format, &brush);
}

const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics, const std::vector<FittedText>& texts,
                                 std::initializer_list<const Gdiplus::Font*> fonts,
                                 const Gdiplus::StringFormat& format) {
    // Measured without trimming or the line limit, so an overflow shows as a larger size.
    Gdiplus::StringFormat measuring(&format);
    measuring.SetTrimming(Gdiplus::StringTrimmingNone);
    const bool oneLine = (format.GetFormatFlags() & Gdiplus::StringFormatFlagsNoWrap) != 0;
    measuring.SetFormatFlags(oneLine ? Gdiplus::StringFormatFlagsNoWrap : 0);
    return largestFitting(fonts, [&](const Gdiplus::Font& font) {
        return std::all_of(texts.begin(), texts.end(), [&](const FittedText& text) {
            const Gdiplus::SizeF size =
                oneLine ? measureLine(graphics, text.text, font, measuring)
                        : measureWrapped(graphics, text.text, font, text.rect.Width, measuring);
            return size.Width <= text.rect.Width * kFitSlack && size.Height <= text.rect.Height;
        });
    });
}

const Gdiplus::Font& fittingFont(Gdiplus::Graphics& graphics, const WString& text,
                                 std::initializer_list<const Gdiplus::Font*> fonts,
                                 const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format) {
    return fittingFont(graphics, {{text, rect}}, fonts, format);
}

LinesFit fitLines(Gdiplus::Graphics& graphics, const WString& text,
                  std::initializer_list<const Gdiplus::Font*> fonts, const Gdiplus::RectF& area) {
    Gdiplus::StringFormat format;
    setSingleLine(format);
    LinesFit fit;
    fit.lines = splitLines(text);
    auto measureOne = [&](const WString& line) {
        return measureLine(graphics, line.empty() ? L" " : line, *fit.font, format);
    };
    auto measureAll = [&](const Gdiplus::Font& font) {
        fit.font = &font;
        fit.widest = 0;
        for (const WString& line : fit.lines) {
            const Gdiplus::SizeF size = measureOne(line);
            fit.widest = std::max(fit.widest, size.Width);
            fit.lineHeight = size.Height;
        }
    };
    const float room = kFitSlack * area.Width;
    const Gdiplus::Font& font = largestFitting(fonts, [&](const Gdiplus::Font& candidate) {
        measureAll(candidate);
        return fit.widest <= room && fit.lineHeight * static_cast<float>(fit.lines.size()) <= area.Height;
    });
    if (fit.font != &font) measureAll(font);
    if (fit.widest > room) {
        fit.lines.clear();
        for (StatusRow& row :
             breakStatusRows(text, room, 0, [&](const WString& t) { return measureOne(t).Width; }))
            fit.lines.push_back(std::move(row.text));
        measureAll(font);
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

void drawStatusText(Canvas& c, Gdiplus::Graphics& g, const IntRect& area, const WString& text) {
    (void)placeStatusText(c, g, area, text, true);
}

StatusTextFit fitStatusText(Canvas& c, Gdiplus::Graphics& g, const IntRect& area, const WString& text) {
    return placeStatusText(c, g, area, text, false);
}
