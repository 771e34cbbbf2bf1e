#include "ui/paint_panels_win.h"

#include "config/settings.h"
#include "ui/rating_panel.h"
#include "ui/rating_texts.h"
#include "ui/text_fit_win.h"

namespace {

using Gdiplus::RectF;

// How much of a tab's width the widest label may take before the four labels step down to 0.8.
constexpr float kTabLabelRoom = 0.86f;

void drawNewsCard(const LauncherApp& app, Gdiplus::Graphics& g, const ImageButton& card,
                  const NewsEntry& entry) {
    Canvas& c = *app.canvas;
    drawButton(g, card);
    const float x = static_cast<float>(card.left);
    const float y = static_cast<float>(card.top);
    const float w = static_cast<float>(card.width);
    const float h = static_cast<float>(card.height);

    // Title: bold at the base size when every line of it fits, else at 0.8, else at 0.66; "|" of
    // the file already broke it into lines.
    const RectF titleArea(x + 0.07f * w, y + 0.15f * h, 0.39f * w, 0.7f * h);
    drawLines(g, fitLines(g, entry.title, {c.bold.get(), c.bold080.get(), c.bold066.get()}, titleArea),
              titleArea, c.lightGreyBrush);

    // Text: wrapped, regular at 0.8 unless it runs past its area, then at 0.66; cut after that.
    const RectF textArea(x + 0.455f * w, y + 0.155f * h, 0.475f * w, 0.46f * h);
    Gdiplus::StringFormat textFormat;
    textFormat.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
    const Gdiplus::Font& textFont =
        largestFitting({c.regular080.get(), c.regular066.get()}, [&](const Gdiplus::Font& font) {
            return measureWrapped(g, entry.text, font, kFitSlack * textArea.Width, textFormat).Height <=
                   textArea.Height;
        });
    drawText(g, entry.text, textFont, textArea, textFormat, c.whiteBrush);

    const RectF dateArea(x + 0.455f * w, y + 0.15f * h, 0.475f * w, 0.695f * h);
    Gdiplus::StringFormat dateFormat;
    dateFormat.SetAlignment(Gdiplus::StringAlignmentFar);
    dateFormat.SetLineAlignment(Gdiplus::StringAlignmentFar);
    drawText(g, entry.date, *c.regular080, dateArea, dateFormat, c.translucentWhiteBrush);
}

void drawTabs(const LauncherApp& app, Gdiplus::Graphics& g, Language language) {
    Canvas& c = *app.canvas;
    const RatingPanelLayout& R = app.layout.rating;
    // The selected label bold, the others regular, all at the base size or all at 0.8.
    const Gdiplus::Font& selectedFont =
        largestFitting({c.bold.get(), c.bold080.get()}, [&](const Gdiplus::Font& font) {
            for (int i = 0; i < kDifficultyCount; ++i) {
                if (measureLine(g, difficultyLabel(i, language), font, c.lineCentred).Width >
                    kTabLabelRoom * R.tabs[0].width)
                    return false;
            }
            return true;
        });
    const Gdiplus::Font& otherFont = &selectedFont == c.bold.get() ? *c.regular : *c.regular080;
    for (int i = 0; i < kDifficultyCount; ++i) {
        const bool selected = i == app.input.ratingTab;
        const RectF tab = toRectF(R.tabs[static_cast<size_t>(i)]);
        const WString label = difficultyLabel(i, language);
        drawText(g, label, selected ? selectedFont : otherFont, tab, c.lineCentred,
                 selected ? c.goldBrush : c.translucentWhiteBrush);
        if (selected) {
            const float half = measureLine(g, label, selectedFont, c.lineCentred).Width / 2 + 4;
            const float centre = tab.X + tab.Width / 2;
            const float lineY = tab.Y + tab.Height - 2;
            g.DrawLine(&c.bronzePen, centre - half, lineY, centre + half, lineY);
        }
    }
}

}  // namespace

void drawNewsPanel(const LauncherApp& app, Gdiplus::Graphics& g) {
    for (size_t i = 0; i < app.news.size() && i < app.buttons.news.size(); ++i) {
        drawNewsCard(app, g, app.buttons.news[i], app.news[i]);
    }
}

void drawRatingPanel(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const RatingPanelLayout& R = app.layout.rating;
    const Language language = currentLanguage();
    // The panel's shade and frame are part of the base layer.

    const RectF title(R.title.x + R.margin, R.title.y, R.title.width - 2 * R.margin, R.title.height);
    drawText(g, localized(kRatingTitleText, language), *c.bold, title, c.lineNear, c.goldBrush);
    drawPicture(g, app.divider, static_cast<int32_t>(R.divider.x), static_cast<int32_t>(R.divider.y));
    drawTabs(app, g, language);

    const RatingPanelLook look = ratingPanelLook(app.rating, app.input.ratingTab);
    const RectF list = toRectF(R.list);
    if (look != RatingPanelLook::Rows) {
        drawText(g, ratingPanelMessage(look, language), *c.regular, list, c.wrapCentred,
                 c.translucentWhiteBrush);
    } else {
        const std::vector<RatingRow>& rows = app.rating.rows[static_cast<size_t>(app.input.ratingTab)];
        const float rowHeight = 1.45f * R.unit;
        const size_t shown = visibleRatingRows(list.Height, rowHeight, rows.size());
        for (size_t i = 0; i < shown; ++i) {
            const RatingRowTexts texts = ratingRowTexts(rows[i], language);
            const RectF row(list.X, list.Y + i * rowHeight, list.Width, rowHeight);
            const Gdiplus::Brush& brush = i == 0 ? static_cast<Gdiplus::Brush&>(c.goldBrush)
                                                 : static_cast<Gdiplus::Brush&>(c.whiteBrush);
            drawText(g, texts.right, *c.regular, row, c.lineFar, brush);
            const float rightWidth = measureLine(g, texts.right, *c.regular, c.lineFar).Width;
            const RectF left(row.X, row.Y, std::max(0.0f, row.Width - rightWidth - R.margin), row.Height);
            drawText(g, texts.left, *c.regular, left, c.lineNear, brush);
        }
    }
    drawText(g, localized(kRatingFooterText, language), *c.regular080, toRectF(R.footer), c.lineCentred,
             c.lightGreyBrush);
}
