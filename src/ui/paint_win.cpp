#include "base/constants.h"
#include "config/settings.h"
#include "ui/launcher_app_win.h"
#include "ui/ui_texts.h"

namespace {

void drawText(Gdiplus::Graphics& g, const WString& text, const Gdiplus::Font& font,
              const Gdiplus::RectF& rect, const Gdiplus::StringFormat& format, const Gdiplus::Brush& brush) {
    g.DrawString(text.c_str(), static_cast<INT>(text.size()), &font, rect, &format, &brush);
}

void drawTopStrip(LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    g.FillRectangle(&c.shadeLightBrush, 0, 0, L.width, L.strip + 1);
    for (const ImageButton* button :
         {&app.buttons.close, &app.buttons.gear, &app.buttons.minimise, &app.buttons.language}) {
        drawButton(g, *button);
    }
    drawText(g, localized(ui_texts::kOtherLanguageCode), *c.bold080, toRectF(L.languageButton), c.centred,
             c.lightGreyBrush);
}

void drawBranches(LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    for (size_t i = 0; i < app.buttons.play.size(); ++i) {
        const ImageButton& play = app.buttons.play[i];
        drawButton(g, play);
        const IntRect r = play.rect();
        const float h = static_cast<float>(r.height);
        const Gdiplus::RectF name(static_cast<float>(r.left), static_cast<float>(r.top),
                                  static_cast<float>(r.width), h * 0.3f);
        drawText(g, kBranches[i].displayName, *c.bold, name, c.centred, c.goldBrush);
        const Gdiplus::RectF label(static_cast<float>(r.left), r.top + h * 0.28f, static_cast<float>(r.width),
                                   h * 0.42f);
        drawText(g, localized(ui_texts::kPlay), *c.bold145, label, c.centred,
                 play.disabled ? c.translucentWhiteBrush : c.whiteBrush);
        const wchar_t* caption = statusCaption(app.branchResults[i].status.load(), currentLanguage());
        if (caption) {
            const Gdiplus::RectF area(static_cast<float>(r.left), r.top + h * 0.7f,
                                      static_cast<float>(r.width), h * 0.26f);
            drawText(g, caption, *c.regular080, area, c.centred, c.lightGreyBrush);
        }
    }
}

void drawTitleAndVersion(LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    const ScreenLayout& L = app.layout;
    drawText(g, localized(ui_texts::kTitle), *c.bold, toRectF(L.titleArea), c.nearCentred, c.goldBrush);
    drawText(g, WString(ui_texts::kLauncherVersionPrefix) + kLauncherVersion, *c.regular066,
             toRectF(L.versionArea), c.farCentred, c.translucentWhiteBrush);
}

void drawStatus(LauncherApp& app, Gdiplus::Graphics& g) {
    Canvas& c = *app.canvas;
    drawText(g, app.shownStatus, *c.regular, toRectF(app.layout.progressArea), c.nearCentred, c.whiteBrush);
}

}  // namespace

void paintFrame(LauncherApp& app, HDC target) {
    Canvas& c = *app.canvas;
    Gdiplus::Graphics& g = *c.graphics;
    g.Clear(Gdiplus::Color(colours::kBlack));
    drawPicture(g, c.background, 0, 0);
    drawTopStrip(app, g);
    drawBranches(app, g);
    drawStatus(app, g);
    drawTitleAndVersion(app, g);
    g.Flush(Gdiplus::FlushIntentionSync);
    presentBackBuffer(c, target);
}
