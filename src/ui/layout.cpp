#include "ui/layout.h"

#include <algorithm>

#include "ui/image_table.h"

namespace {

int32_t trunc(double value) { return static_cast<int32_t>(value); }

void layoutTopStrip(ScreenLayout& L) {
    const int32_t w = L.width;
    const int32_t s = L.strip;
    L.topStrip = {0, 0, w, s};
    L.closeButton = {w - s, 0, s, s};
    L.gearButton = {w - 2 * s, 1, s, s};
    L.minimiseButton = {w - 3 * s, 0, s, s};
    L.languageButton = {w - 4 * s, 0, s, s};

    const int32_t versionWidth = trunc(w * 0.135);
    L.versionArea = {L.languageButton.left - trunc(L.topBarMargin) - versionWidth, 0, versionWidth, s};

    const int32_t linkWidth = trunc(w * 0.105);
    const int32_t gap = std::max(4, trunc(w * 0.006));
    const int32_t linkTop = trunc(s * 0.12);
    const int32_t linkHeight = trunc(s * 0.76);
    L.mainLinks[1] = {L.versionArea.left - gap - linkWidth, linkTop, linkWidth, linkHeight};
    L.mainLinks[0] = {L.mainLinks[1].left - gap - linkWidth, linkTop, linkWidth, linkHeight};

    const int32_t titleLeft = trunc(L.textUnit);
    L.titleArea = {titleLeft, 0, std::max(0, L.mainLinks[0].left - gap - titleLeft), s};
}

void layoutBottomBand(ScreenLayout& L, PixelSize playSize) {
    const int32_t w = L.width;
    const int32_t h = L.height;
    const int32_t band = trunc(h * 0.26);
    const int32_t q = trunc(band * 0.1);
    L.bandTop = h - band;
    L.bandMargin = q;

    const int32_t pw = playSize.width;
    const int32_t ph = playSize.height;
    const int32_t playTop = L.bandTop + (band - ph) / 2;
    const int32_t firstLeft = w - q - q / 2 - 2 * pw;
    for (size_t i = 0; i < kBranchCount; ++i) {
        const IntRect play{firstLeft + static_cast<int32_t>(i) * (q / 2 + pw), playTop, pw, ph};
        L.play[i] = play;
        auto band = [&](double top, double bottom) {
            const int32_t y = play.top + trunc(ph * top);
            return IntRect{play.left + trunc(pw * 0.07), y, trunc(pw * 0.86),
                           play.top + trunc(ph * bottom) - y};
        };
        L.playTexts[i] = {band(0.13, 0.35), band(0.35, 0.6), band(0.6, 0.87)};
    }

    const int32_t areaWidth = std::max(0, firstLeft - 2 * q);
    const int32_t labelHeight = trunc(L.textUnit * 1.55);
    const int32_t barHeight = trunc(L.textUnit * 1.15);
    L.progressArea = {q, L.bandTop + q, areaWidth, band - 2 * q};
    L.fileLabel = {q, L.bandTop + q, areaWidth, labelHeight};
    L.fileBar = {q, L.fileLabel.bottom() + 2, areaWidth, barHeight};
    L.totalLabel = {q, L.fileBar.bottom() + q, areaWidth, labelHeight};
    L.totalBar = {q, L.totalLabel.bottom() + 2, areaWidth, barHeight};
}

void layoutPanels(ScreenLayout& L) {
    const int32_t s = L.strip;
    const int32_t q = L.bandMargin;
    const float l = L.textUnit;
    L.contentArea = {0, s, L.width, L.height - s};

    const int32_t top = s + q + 2;
    const int32_t bottom = L.bandTop - q;
    const int32_t cardHeight = std::max(1, (bottom - top - 2 * q) / 3);
    const PixelSize card = pictureSizeAtHeight(kPanelFrameSize, cardHeight);
    for (int i = 0; i < 3; ++i) {
        L.news[static_cast<size_t>(i)] = {q, top + i * (card.height + q), card.width, card.height};
    }

    RatingPanelLayout& R = L.rating;
    const int32_t left = card.width + 2 * q;
    R.panel = {left, top, std::max(0, L.width - q - left), std::max(0, bottom - top)};
    R.margin = l * 0.5f;
    R.unit = l;
    const FloatRect panel = toFloat(R.panel);
    R.title = {panel.x, panel.y, panel.width, 1.9f * l};
    const float tabWidth = panel.width / 4;
    for (int i = 0; i < 4; ++i) {
        R.tabs[static_cast<size_t>(i)] = {panel.x + i * tabWidth, R.title.y + R.title.height, tabWidth,
                                          1.8f * l};
    }
    R.footer = {panel.x, panel.y + panel.height - 1.8f * l, panel.width, 1.8f * l};
    const float listTop = R.tabs[0].y + R.tabs[0].height + R.margin / 2;
    R.list = {panel.x + R.margin, listTop, panel.width - 2 * R.margin,
              std::max(0.0f, R.footer.y - R.margin / 2 - listTop)};
    const PixelSize divider = pictureSizeAtHeight(kDividerSize, trunc(L.height * 0.034));
    R.divider = {panel.x + panel.width - R.margin - divider.width,
                 R.title.y + (R.title.height - divider.height) / 2, static_cast<float>(divider.width),
                 static_cast<float>(divider.height)};
}

void layoutGearPanel(ScreenLayout& L) {
    const float s = static_cast<float>(L.strip);
    const float w = static_cast<float>(L.width);
    const float q = static_cast<float>(L.bandMargin);
    const float y0 = s + s / 3;
    const float tipX = static_cast<float>(L.gearButton.left + L.strip / 2 + 1);
    const float bodyTop = y0 + s / 2;
    const float bodyBottom = bodyTop + 5 * s;
    const float right = w - q;
    const float left = w - q - 0.25f * w;
    L.gearOutline = {
        {tipX, y0},         {tipX + s / 2, bodyTop}, {right, bodyTop},           {right, bodyBottom},
        {left, bodyBottom}, {left, bodyTop},         {tipX + s / 2 - s, bodyTop}};
    L.gearArea = polygonBounds(L.gearOutline, 2);

    const int32_t pad = trunc(s / 4);
    const int32_t rowLeft = trunc(left) + pad;
    const int32_t rowWidth = trunc(right) - pad - rowLeft;
    const int32_t rowHeight = trunc(s * 0.9);
    auto row = [&](int index) {
        return IntRect{rowLeft, trunc(bodyTop + s * 0.05f) + index * L.strip, rowWidth, rowHeight};
    };
    L.verifyButton = row(0);
    for (int i = 0; i < kBranchCount; ++i) L.folderButtons[static_cast<size_t>(i)] = row(1 + i);
    for (int i = 0; i < 2; ++i) L.gearLinks[static_cast<size_t>(i)] = row(1 + kBranchCount + i);
}

void layoutQuestion(ScreenLayout& L) {
    const int32_t w = L.width;
    const int32_t h = L.height;
    const int32_t s = L.strip;
    const double sd = s;
    const int32_t inset = trunc(0.8 * sd);
    L.tryAgain = {inset, trunc(h - 1.5 * sd), trunc(w * 0.4 + sd), s};
    L.tryAgainAdmin = {inset, trunc(h - 2.7 * sd), trunc(w * 0.4 + sd), s};
    L.continueSlack = trunc(w * 0.18);
    L.continueAnyway = {w - inset - s, L.tryAgain.top, s, s};
    const int32_t gap = std::max(4, s / 4);
    L.continueCaption = {L.continueAnyway.left - L.continueSlack + 1, L.tryAgain.top - s / 10,
                         L.continueSlack - 1 - gap, s + 2 * (s / 10)};
    const int32_t boxTop = s + L.bandMargin;
    L.questionBox = {inset, boxTop, w - 2 * inset, L.tryAgainAdmin.top - L.bandMargin - boxTop};
}

}  // namespace

IntRect progressRegion(const ScreenLayout& layout) {
    const int32_t reach = layout.fileBar.height / 4 + 1;
    return inflated(layout.progressArea, reach, reach);
}

int32_t fontBaseSize(int32_t height) { return trunc(height * 0.03) * 96 / 72; }

ScreenLayout computeLayout(int32_t width, int32_t height, PixelSize playSize) {
    ScreenLayout L;
    L.width = width;
    L.height = height;
    L.textUnit = static_cast<float>(height * 0.03);
    L.fontBase = fontBaseSize(height);
    L.strip = trunc(height * 0.056);
    L.topBarMargin = L.textUnit * 0.35f;
    layoutTopStrip(L);
    layoutBottomBand(L, playSize);
    layoutPanels(L);
    layoutGearPanel(L);
    layoutQuestion(L);
    return L;
}
