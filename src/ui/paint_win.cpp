#include "ui/paint_win.h"

#include <utility>
#include <vector>

#include "base/constants.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "ui/paint_panels_win.h"
#include "ui/text_fit_win.h"
#include "ui/ui_texts.h"

namespace {

using Gdiplus::RectF;

// Picture buttons with their labels right of the picture, inside each button's rectangle, all in
// the largest of `fonts` in which every label fits: one size for a row of buttons.
using LabelledButtons = std::vector<std::pair<const ImageButton*, WString>>;

void drawLabelledButtons(const LauncherApp& app, Gdiplus::Graphics& g, const LabelledButtons& buttons,
                         std::initializer_list<const Gdiplus::Font*> fonts, bool stripCaption = false) {
    Canvas& c = *app.canvas;
    std::vector<FittedText> labels;
    for (const auto& [button, label] : buttons) {
        const SharedPicture& picture = button->images[0];
        const float iconWidth =
            picture ? static_cast<float>(picture->size.width) : static_cast<float>(button->height);
        const float gap = app.layout.textUnit * (stripCaption ? 0.2f : 0.4f);
        RectF area(button->left + iconWidth + gap, static_cast<float>(button->top),
                   std::max(0.0f, button->width - iconWidth - gap), static_cast<float>(button->height));
        // A strip caption may use the gap after its button: the next button starts after it.
        if (stripCaption)
            area.Width += static_cast<float>(app.layout.mainLinks[1].left - app.layout.mainLinks[0].right());
        labels.push_back({label, area});
    }
    const Gdiplus::StringFormat& format = stripCaption ? *c.tightNear : c.lineNear;
    const Gdiplus::Font& font = fittingFont(g, labels, fonts, format);
    for (size_t i = 0; i < buttons.size(); ++i) {
        const ImageButton& button = *buttons[i].first;
        // The picture at the left, centred in the button's height when it is lower than the button.
        const SharedPicture& picture = button.images[0];
        const int32_t pictureHeight = picture ? picture->size.height : button.height;
        drawPicture(g, button.images[static_cast<size_t>(buttonLook(button))], button.left,
                    button.top + std::max(0, (button.height - pictureHeight) / 2));
        const Gdiplus::Brush& brush = button.disabled  ? static_cast<Gdiplus::Brush&>(c.translucentWhiteBrush)
                                      : button.hovered ? static_cast<Gdiplus::Brush&>(c.goldBrush)
                                                       : static_cast<Gdiplus::Brush&>(c.lightGreyBrush);
        drawText(g, labels[i].text, font, labels[i].rect, format, brush);
    }
}

// The top strip, its four buttons and the code of the language the button switches to.
void drawTopStrip(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    for (const ImageButton* button :
         {&app.buttons.close, &app.buttons.gear, &app.buttons.minimise, &app.buttons.language}) {
        drawButton(g, *button);
    }
    drawText(g, localized(ui_texts::kOtherLanguageCode), *c.bold080, toRectF(L.languageButton),
             *c.tightCentred, app.buttons.language.hovered ? c.goldBrush : c.lightGreyBrush);
}

// Each branch's play button with its name, label and status caption.
void drawBranches(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    for (size_t i = 0; i < app.buttons.play.size(); ++i) {
        const ImageButton& play = app.buttons.play[i];
        drawButton(g, play);
        const PlayTexts& texts = app.layout.playTexts[i];
        drawText(g, kBranches[i].displayName, *c.bold, toRectF(texts.name), c.lineCentred, c.goldBrush);
        drawText(g, localized(ui_texts::kPlay), *c.bold145, toRectF(texts.label), c.lineCentred,
                 play.disabled ? c.translucentWhiteBrush : c.whiteBrush);
        // An open question's answers take the band: their labels would cross the caption.
        if (app.input.questionOpen) continue;
        if (const wchar_t* caption = statusCaption(app.worker->results[i].status.load(), currentLanguage())) {
            const RectF area = toRectF(texts.caption);
            const Gdiplus::Font& font =
                fittingFont(g, caption, {c.regular080.get(), c.regular066.get()}, area, c.wrapCentred);
            drawText(g, caption, font, area, c.wrapCentred, c.lightGreyBrush);
        }
    }
}

// The gear panel, a speech bubble under the gear button with its five rows.
void drawGearPanel(const LauncherApp& app, Gdiplus::Graphics& g) {
    if (!app.input.gearPanelOpen) return;
    Canvas& c = *app.canvas;
    std::vector<Gdiplus::PointF> points;
    for (const FloatPoint& p : app.layout.gearOutline) points.emplace_back(p.x, p.y);
    g.FillPolygon(&c.shadeDarkBrush, points.data(), static_cast<INT>(points.size()));
    g.DrawPolygon(&c.bronzePen, points.data(), static_cast<INT>(points.size()));

    const ScreenButtons& b = app.buttons;
    const bool checking = b.verify.disabled && app.worker->checkVerify;
    LabelledButtons rows = {{&b.verify, localized(checking ? ui_texts::kVerifying : ui_texts::kVerifyFiles)}};
    for (size_t i = 0; i < b.folders.size(); ++i)
        rows.push_back(
            {&b.folders[i], WString(localized(ui_texts::kFolderPrefix)) + ui_texts::kLinkLabels[i]});
    for (size_t i = 0; i < b.gearLinks.size(); ++i) {
        rows.push_back({&b.gearLinks[i],
                        WString(localized(ui_texts::kDownloadClientPrefix)) + ui_texts::kLinkLabels[i]});
    }
    drawLabelledButtons(app, g, rows, {c.regular080.get(), c.regular066.get()});
}

void drawProgressBar(const LauncherApp& app, Gdiplus::Graphics& g, const ProgressBar& bar) {
    if (!bar.visible) return;
    Canvas& c = *app.canvas;
    const IntRect& r = bar.bar;
    g.FillRectangle(&c.shadeMediumBrush, r.left, r.top, r.width, r.height);
    const int fill = barFillWidth(bar.value, bar.maximum, r.width);
    if (fill > 0) {
        g.FillRectangle(&c.bronzeBrush, r.left + 2, r.top + 2, fill, r.height - 4);
        if (app.glow) {
            // The glowing head sits on the end of the fill, clipped to the bar's neighbourhood.
            const int32_t reach = progressGlowReach(r);
            Gdiplus::Region saved;
            g.GetClip(&saved);
            g.SetClip(
                RectF(static_cast<float>(r.left - reach), static_cast<float>(r.top - reach),
                      static_cast<float>(r.width + 2 * reach), static_cast<float>(r.height + 2 * reach)),
                Gdiplus::CombineModeIntersect);
            drawPicture(g, app.glow, r.left + 2 + fill - app.glow->size.width / 2,
                        r.top + r.height / 2 - app.glow->size.height / 2);
            g.SetClip(&saved);
        }
    }
    g.DrawRectangle(&c.translucentWhitePen, r.left, r.top, r.width - 1, r.height - 1);
}

void drawProgressLabel(const LauncherApp& app, Gdiplus::Graphics& g, const ProgressBar& bar) {
    if (!bar.visible) return;
    Canvas& c = *app.canvas;
    const RectF label = toRectF(bar.label);
    drawText(g, bar.labelText,
             fittingFont(g, bar.labelText, {c.regular080.get(), c.regular066.get()}, label, c.progressLabel),
             label, c.progressLabel, c.lightGreyBrush);
    const WString percent = barPercentText(bar.value, bar.maximum);
    RectF shadow = toRectF(bar.bar);
    shadow.Offset(1, 1);
    drawText(g, percent, *c.bold080, shadow, c.lineCentred, c.blackBrush);
    drawText(g, percent, *c.bold080, toRectF(bar.bar), c.lineCentred, c.whiteBrush);
}

// The two bars with their labels, or the status line.
void drawProgress(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    drawProgressBar(app, g, app.fileBar);
    drawProgressBar(app, g, app.totalBar);
    drawProgressLabel(app, g, app.fileBar);
    drawProgressLabel(app, g, app.totalBar);
    if (app.singleBarMode && !app.progressCaption.empty()) {
        drawText(g, app.progressCaption, *c.bold080, toRectF(app.fileBar.ownLabel), c.lineNear, c.goldBrush);
    }
    drawStatusText(c, g, app.layout.progressArea, app.shownStatus);
}

// The title with the branch's release version, and the launcher's own version.
void drawTitleAndVersion(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    const WString title = localized(ui_texts::kTitle);
    const RectF titleArea = toRectF(L.titleArea);
    drawText(g, title, *c.bold, titleArea, c.lineNear, c.goldBrush);
    if (!app.snapshot.displayVersion.empty()) {
        const float used = measureLine(g, title, *c.bold, c.lineNear).Width;
        const RectF versionArea(titleArea.X + used, titleArea.Y, std::max(0.0f, titleArea.Width - used),
                                titleArea.Height);
        drawText(g, L"  " + utf8ToWide(app.snapshot.displayVersion), *c.regular080, versionArea, c.lineNear,
                 c.lightGreyBrush);
    }
    drawText(g, WString(ui_texts::kLauncherVersionPrefix) + kLauncherVersion, *c.regular066,
             toRectF(L.versionArea), c.lineFar, c.translucentWhiteBrush);
}

// The client download links of the top strip.
void drawMainLinks(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    LabelledButtons links;
    for (size_t i = 0; i < app.buttons.mainLinks.size(); ++i) {
        links.push_back({&app.buttons.mainLinks[i],
                         WString(localized(ui_texts::kDownloadPrefix)) + ui_texts::kLinkLabels[i]});
    }
    drawLabelledButtons(app, g, links, {c.regular066.get(), c.small050.get()}, true);
}

// The run's question over a darkened screen.
void drawQuestion(const LauncherApp& app, Gdiplus::Graphics& g) {
    if (!app.input.questionOpen) return;
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    g.FillRectangle(&c.shadeMediumBrush, 0, 0, L.width, L.height);
    const IntRect& box = L.questionBox;
    // Under the box the answers share the bottom band with the play buttons: a darker layer there
    // keeps the answers' labels clear (the status line and the captions are not drawn meanwhile).
    g.FillRectangle(&c.shadeDarkBrush, 0, box.bottom(), L.width, L.height - box.bottom());
    g.FillRectangle(&c.shadeDarkBrush, box.left, box.top, box.width, box.height);
    g.DrawRectangle(&c.bronzePen, box.left, box.top, box.width - 1, box.height - 1);
    const float inset = static_cast<float>(L.bandMargin);
    const RectF textArea(box.left + inset, box.top + inset, box.width - 2 * inset, box.height - 2 * inset);
    const WString& question = app.questionText;
    const Gdiplus::Font& font = fittingFont(
        g, question, {c.regular.get(), c.regular080.get(), c.regular066.get()}, textArea, c.wrapNear);
    drawText(g, question, font, textArea, c.wrapNear, c.whiteBrush);

    const ScreenButtons& b = app.buttons;
    drawButton(g, b.continueAnyway);
    // One line where it fits, else two (the caption stands out of the row for that).
    const WString continueText = localized(ui_texts::kContinueAnyway);
    const RectF caption = toRectF(L.continueCaption);
    drawText(
        g, continueText,
        fittingFont(g, continueText, {c.bold.get(), c.bold080.get(), c.bold066.get()}, caption, c.wrapFar),
        caption, c.wrapFar, b.continueAnyway.hovered ? c.goldBrush : c.lightGreyBrush);
    LabelledButtons answers = {{&b.tryAgain, localized(ui_texts::kTryAgain)}};
    if (!app.elevated) answers.push_back({&b.tryAgainAdmin, localized(ui_texts::kTryAgainAsAdministrator)});
    drawLabelledButtons(app, g, answers, {c.regular080.get(), c.regular066.get()});
}

// What lies under every frame and never changes.
void drawBaseLayer(const LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    g.Clear(Gdiplus::Color(colours::kBlack));
    drawPicture(g, c.background, 0, 0);
    g.FillRectangle(&c.shadeLightBrush, 0, 0, L.width, L.strip + 1);
    const IntRect& panel = L.rating.panel;
    g.FillRectangle(&c.shadeLightBrush, panel.left, panel.top, panel.width, panel.height);
    g.DrawRectangle(&c.bronzePen, panel.left, panel.top, panel.width, panel.height);
}

}  // namespace

void invalidate(HWND window, const IntRect& rect) {
    if (rect.empty()) return;
    const RECT r{rect.left, rect.top, rect.right(), rect.bottom()};
    InvalidateRect(window, &r, FALSE);
}

void prepareBaseLayer(LauncherApp& app) {
    drawBaseLayer(app, *app.canvas->graphics);
    keepBaseLayer(*app.canvas);
}

void paintFrame(const LauncherApp& app, HDC target) {
    paintFrame(app, target, {0, 0, app.layout.width, app.layout.height});
}

void paintFrame(const LauncherApp& app, HDC target, const IntRect& area) {
    Canvas& c = *app.canvas;
    Gdiplus::Graphics& g = *c.graphics;
    const ScreenLayout& L = app.layout;
    // Only the part that changed is composed again, and only the parts of the screen that reach
    // into it are drawn: the rest of the back buffer still holds the last frame, which is what a
    // full redraw would give there.
    auto reaches = [&](const IntRect& bounds) { return overlaps(area, bounds); };
    const IntRect strip{0, 0, L.width, L.strip + 2};
    g.SetClip(toRectF(area));
    if (!restoreBaseLayer(c, area)) drawBaseLayer(app, g);
    if (reaches(strip)) drawTopStrip(app, g);
    if (reaches(unite(L.play[0], L.play[1]))) drawBranches(app, g);
    if (reaches(progressRegion(L)) && !app.input.questionOpen) drawProgress(app, g);
    if (reaches(strip)) {
        drawTitleAndVersion(app, g);
        drawMainLinks(app, g);
    }
    if (reaches(unite(L.news[0], L.news[2]))) drawNewsPanel(app, g);
    if (reaches(inflated(L.rating.panel, 2, 2))) drawRatingPanel(app, g);
    // The open gear panel lies over the panels it overlaps, as a menu does.
    if (reaches(L.gearArea)) drawGearPanel(app, g);
    drawQuestion(app, g);
    g.ResetClip();
    g.Flush(Gdiplus::FlushIntentionSync);
    presentBackBuffer(c, target, area);
}
