#include "ui/layout.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ui/geometry.h"
#include "ui/image_table.h"
#include "ui/screen_input.h"

namespace {

std::string describe(const IntRect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height) + ")";
}

TEST(WindowGeometry, HalfTheScreenHighSixteenByNineCentred) {
    const struct {
        int32_t screenWidth, screenHeight;
        int32_t width, height, left, top;
        float scale;
    } cases[] = {
        {1920, 1080, 960, 540, 480, 270, 0.5f},
        {2560, 1440, 1280, 720, 640, 360, 2.0f / 3.0f},
        {3840, 2160, 1920, 1080, 960, 540, 1.0f},
        {800, 600, 853, 480, -26, 60, 480.0f / 1080.0f},  // wider than the screen, left of it
        {1366, 768, 853, 480, 256, 144, 480.0f / 1080.0f},
        {5120, 2880, 2560, 1440, 1280, 720, 4.0f / 3.0f},
        {1920, 1200, 1066, 600, 427, 300, 600.0f / 1080.0f},
        {3200, 1800, 1600, 900, 800, 450, 900.0f / 1080.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenWidth << "x" << c.screenHeight);
        const WindowGeometry g = computeWindowGeometry(c.screenWidth, c.screenHeight, 60);
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.left, c.left);
        EXPECT_EQ(g.top, c.top);
        EXPECT_FLOAT_EQ(g.scale, c.scale);
    }
}

TEST(WindowGeometry, RefreshRatesOutsideThirtyToTwoFortyCountAsSixty) {
    const struct {
        int32_t reported, hz, intervalMs;
    } cases[] = {{0, 60, 16},  {1, 60, 16},   {29, 60, 16},  {30, 30, 33},  {60, 60, 16},
                 {75, 75, 13}, {144, 144, 6}, {240, 240, 4}, {241, 60, 16}, {-60, 60, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.reported << " Hz reported");
        const WindowGeometry g = computeWindowGeometry(1920, 1080, c.reported);
        EXPECT_EQ(g.refreshHz, c.hz);
        EXPECT_EQ(g.frameIntervalMs, c.intervalMs);
    }
}

TEST(PictureScaling, KeepsProportionsAndNeverGoesBelowOnePixel) {
    const struct {
        PixelSize source;
        double scale;
        PixelSize expected;
    } cases[] = {
        {kBackgroundSize, 0.5, {960, 540}},
        {kBackgroundSize, 480.0f / 1080.0f, {853, 480}},  // the float scale of a 480-pixel window
        {kBackgroundSize, 720.0f / 1080.0f, {1280, 720}},
        {kPlayButtonSize, 0.5, {224, 126}},
        {kSmallButtonSize, 480.0f / 1080.0f, {26, 26}},
        {kDividerSize, 0.5, {922, 168}},  // 168.5 high: the width follows the truncated height
        {kSmallButtonSize, 0.0, {1, 1}},
        {kSmallButtonSize, -3.0, {1, 1}},
        {kSmallButtonSize, std::nan(""), {1, 1}},
        {kDividerSize, 0.001, {5, 1}},  // one pixel high, the width from the proportions
        {{5, 2}, 0.5, {3, 1}},          // 2.5 wide: rounded, not truncated
        {{0, 0}, 1.0, {1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source.width << "x" << c.source.height << " at " << c.scale);
        const PixelSize size = scaledPictureSize(c.source, c.scale);
        EXPECT_EQ(size.width, c.expected.width);
        EXPECT_EQ(size.height, c.expected.height);
    }
}

TEST(GearOutline, EvenOddTestFollowsTheSpeechBubble) {
    const ScreenLayout L = computeLayout(960, 540, {224, 126});
    ASSERT_EQ(L.gearOutline.size(), 7u);
    const FloatPoint tip = L.gearOutline[0];
    EXPECT_FLOAT_EQ(tip.x, static_cast<float>(L.gearButton.left + L.strip / 2 + 1));
    EXPECT_FLOAT_EQ(tip.y, L.strip + L.strip / 3.0f);
    const struct {
        float x, y;
        bool inside;
    } cases[] = {
        {tip.x, tip.y + 3, true},        // just under the tip
        {tip.x - 10, tip.y + 3, false},  // beside the tip, above the body
        {L.gearOutline[2].x - 1, L.gearOutline[2].y + 1, true},
        {L.gearOutline[2].x + 1, L.gearOutline[2].y + 1, false},  // right of the body
        {L.gearOutline[4].x + 1, L.gearOutline[4].y - 1, true},
        {L.gearOutline[4].x - 1, L.gearOutline[4].y - 1, false},
        {L.gearOutline[4].x + 1, L.gearOutline[4].y + 1, false},  // under the body
        {10, 10, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(insidePolygon(L.gearOutline, c.x, c.y), c.inside);
    }
    EXPECT_FALSE(insidePolygon({{0, 0}, {10, 0}}, 5, 0));
}

struct NamedRect {
    std::string name;
    IntRect rect;
};

std::vector<NamedRect> mainScreen(const ScreenLayout& L) {
    std::vector<NamedRect> list = {{"close", L.closeButton},       {"gear", L.gearButton},
                                   {"minimise", L.minimiseButton}, {"language", L.languageButton},
                                   {"link 0", L.mainLinks[0]},     {"link 1", L.mainLinks[1]}};
    for (size_t i = 0; i < L.play.size(); ++i) list.push_back({"play " + std::to_string(i), L.play[i]});
    for (size_t i = 0; i < L.news.size(); ++i) list.push_back({"news " + std::to_string(i), L.news[i]});
    return list;
}

std::vector<NamedRect> gearScreen(const ScreenLayout& L) {
    std::vector<NamedRect> list = mainScreen(L);
    list.push_back({"verify", L.verifyButton});
    for (size_t i = 0; i < L.folderButtons.size(); ++i)
        list.push_back({"folder " + std::to_string(i), L.folderButtons[i]});
    for (size_t i = 0; i < L.gearLinks.size(); ++i)
        list.push_back({"gear link " + std::to_string(i), L.gearLinks[i]});
    return list;
}

std::vector<NamedRect> questionScreen(const ScreenLayout& L) {
    // The continue-anyway answer as far as its slack reaches.
    const IntRect reach = {L.continueAnyway.left - L.continueSlack + 1, L.continueAnyway.top,
                           2 * L.continueSlack - 1, L.continueAnyway.height};
    IntRect clipped = reach;
    if (clipped.right() > L.width) clipped.width = L.width - clipped.left;
    return {{"continue anyway", clipped},
            {"try again", L.tryAgain},
            {"try again as administrator", L.tryAgainAdmin}};
}

void expectSeparate(const std::vector<NamedRect>& rects, const IntRect& window) {
    for (size_t i = 0; i < rects.size(); ++i) {
        EXPECT_FALSE(rects[i].rect.empty()) << rects[i].name;
        EXPECT_TRUE(insideOf(rects[i].rect, window)) << rects[i].name << " " << describe(rects[i].rect);
        for (size_t j = i + 1; j < rects.size(); ++j) {
            EXPECT_FALSE(overlaps(rects[i].rect, rects[j].rect))
                << rects[i].name << " " << describe(rects[i].rect) << " overlaps " << rects[j].name << " "
                << describe(rects[j].rect);
        }
    }
}

TEST(ScreenLayout, EveryButtonInsideTheWindowAndNoTwoOfAScreenOverlapping) {
    for (const int32_t height : {480, 540, 720, 1080, 1440}) {
        SCOPED_TRACE(testing::Message() << "window height " << height);
        const WindowGeometry g = computeWindowGeometry(height * 2, height * 2, 60);
        ASSERT_EQ(g.height, height);
        const PixelSize play = scaledPictureSize(kPlayButtonSize, g.scale);
        const ScreenLayout L = computeLayout(g.width, g.height, play);
        const IntRect window{0, 0, g.width, g.height};
        expectSeparate(mainScreen(L), window);
        expectSeparate(gearScreen(L), window);
        expectSeparate(questionScreen(L), window);

        // Texts and panels keep clear of the buttons they share a screen with.
        std::vector<NamedRect> areas = mainScreen(L);
        areas.push_back({"title", L.titleArea});
        areas.push_back({"version", L.versionArea});
        areas.push_back({"rating panel", L.rating.panel});
        areas.push_back({"progress", L.progressArea});
        expectSeparate(areas, window);
        EXPECT_TRUE(insideOf(L.totalBar, L.progressArea)) << describe(L.totalBar);
        // What a bar's glowing head touches is repainted with the progress area, and stays clear of
        // the play buttons.
        for (const IntRect& bar : {L.fileBar, L.totalBar}) {
            EXPECT_TRUE(insideOf(inflated(bar, bar.height / 4, bar.height / 4), progressRegion(L)));
        }
        EXPECT_FALSE(overlaps(progressRegion(L), L.play[0]));
        // Each panel's parts lie in their panel: the news cards between the strip and a margin above
        // the bottom band; the rating panel's parts in its frame, each covered by the pixels that
        // repaint it; what a bar's repaint covers reaches as far as its glow.
        const IntRect newsColumn{0, L.strip, L.width, L.bandTop - L.bandMargin - L.strip};
        for (const IntRect& card : L.news) EXPECT_TRUE(insideOf(card, newsColumn)) << describe(card);
        const RatingPanelLayout& R = L.rating;
        const std::pair<const char*, FloatRect> ratingParts[] = {
            {"title", R.title}, {"tab 0", R.tabs[0]}, {"tab 3", R.tabs[3]},
            {"list", R.list},   {"footer", R.footer}, {"divider", R.divider}};
        for (const auto& [name, part] : ratingParts) {
            const IntRect pixels = enclosing(part);
            EXPECT_TRUE(insideOf(pixels, R.panel)) << name << " " << describe(pixels);
            EXPECT_TRUE(pixels.left <= part.x && pixels.top <= part.y &&
                        pixels.right() >= part.x + part.width && pixels.bottom() >= part.y + part.height)
                << name << " " << describe(pixels);
        }
        for (const auto& [bar, label] : {std::pair{L.fileBar, L.fileLabel}, {L.totalBar, L.totalLabel}}) {
            ProgressBar placed;
            placeProgressBar(placed, bar, label);
            const int32_t reach = progressGlowReach(bar);
            EXPECT_TRUE(insideOf(inflated(bar, reach, reach), progressBarDirtyRect(placed))) << describe(bar);
        }
        // The continue caption lies in its answer's reach across; it and a play button's status
        // caption hold two lines at 0.66 of the base size (line spacing about 1.17 em).
        EXPECT_TRUE(insideOf(L.continueCaption, inflated(questionScreen(L)[0].rect, 0, L.strip / 10)));
        for (const IntRect& caption : {L.continueCaption, L.playTexts[1].caption}) {
            EXPECT_GE(caption.height, 2 * 1.17 * 0.66 * L.fontBase) << describe(caption);
        }
        for (size_t i = 0; i < L.play.size(); ++i) {
            const PlayTexts& t = L.playTexts[i];
            expectSeparate({{"name", t.name}, {"label", t.label}, {"caption", t.caption}}, L.play[i]);
        }
        EXPECT_FALSE(overlaps(L.questionBox, L.tryAgainAdmin));
        EXPECT_TRUE(insideOf(L.gearArea, window));

        // Every gear panel button lies inside the bubble, so clicking it never closes the panel.
        for (const NamedRect& button : gearScreen(L)) {
            if (button.name.rfind("verify", 0) != 0 && button.name.rfind("folder", 0) != 0 &&
                button.name.rfind("gear link", 0) != 0) {
                continue;
            }
            const IntRect r = button.rect;
            for (const auto& [x, y] : {std::pair{r.left, r.top},
                                       {r.right() - 1, r.top},
                                       {r.left, r.bottom() - 1},
                                       {r.right() - 1, r.bottom() - 1}}) {
                EXPECT_TRUE(insidePolygon(L.gearOutline, static_cast<float>(x), static_cast<float>(y)))
                    << button.name << " corner " << x << "," << y;
            }
        }

        // The rating list holds whole rows (1.45 units each), and the tabs span the panel.
        EXPECT_GE(L.rating.list.height / (1.45f * L.rating.unit), 8.0f);
        EXPECT_NEAR(L.rating.tabs[3].x + L.rating.tabs[3].width, L.rating.panel.right(), 0.01);
        EXPECT_GE(L.rating.divider.x, L.rating.panel.left + L.rating.panel.width / 2.0f);
    }
}

TEST(ScreenLayout, FixedProportionsAtHalfHd) {
    const ScreenLayout L = computeLayout(960, 540, scaledPictureSize(kPlayButtonSize, 0.5));
    EXPECT_EQ(L.fontBase, 21);  // 16 points at 96 dpi
    EXPECT_EQ(L.strip, 30);
    EXPECT_EQ(L.closeButton, (IntRect{930, 0, 30, 30}));
    EXPECT_EQ(L.gearButton, (IntRect{900, 1, 30, 30}));
    EXPECT_EQ(L.minimiseButton, (IntRect{870, 0, 30, 30}));
    EXPECT_EQ(L.languageButton, (IntRect{840, 0, 30, 30}));
    EXPECT_EQ(L.versionArea.right(), 840 - 5);
    EXPECT_EQ(L.bandTop, 400);
    EXPECT_EQ(L.bandMargin, 14);
    EXPECT_EQ(L.play[0], (IntRect{491, 407, 224, 126}));
    EXPECT_EQ(L.play[1], (IntRect{722, 407, 224, 126}));
    EXPECT_EQ(L.fileLabel, (IntRect{14, 414, 463, 25}));
    EXPECT_EQ(L.fileBar, (IntRect{14, 441, 463, 18}));
    EXPECT_EQ(L.totalLabel.top, 441 + 18 + 14);
    EXPECT_EQ(L.tryAgain, (IntRect{24, 495, 414, 30}));
    EXPECT_EQ(L.tryAgainAdmin, (IntRect{24, 459, 414, 30}));
    EXPECT_EQ(L.continueSlack, 172);
    EXPECT_EQ(L.news[0].left, 14);
    EXPECT_EQ(L.news[0].top, 30 + 14 + 2);
    EXPECT_EQ(L.rating.panel.left, L.news[0].width + 28);
    EXPECT_EQ(L.rating.panel.right(), 946);
    EXPECT_EQ(fontBaseSize(1080), 42);
}

// The 32-bit and the 64-bit build must place the same pixels. Each of these numbers truncates a
// product that lies a hair below a whole number when computed exactly (600 * 0.03 is 17.99999...):
// double arithmetic rounds it to the whole number, the x87 unit's 80-bit intermediates keep it below
// and truncate one pixel less (a font of 22 pixels instead of 24 at 1920 x 1200).
TEST(ScreenLayout, WholePixelsOfCommonScreensAreTheSameOnEveryBuild) {
    const struct {
        int32_t screenWidth, screenHeight;
        int32_t fontBase, strip;
        IntRect firstLink, play;
        int32_t continueSlack;
    } cases[] = {
        {1920, 1080, 21, 30, {496, 3, 100, 22}, {491, 407, 224, 126}, 172},
        {1920, 1200, 24, 33, {551, 3, 111, 25}, {546, 452, 249, 140}, 191},
        {2560, 1600, 32, 44, {733, 5, 149, 33}, {730, 603, 331, 186}, 255},
        {3200, 1800, 36, 50, {821, 6, 168, 38}, {822, 678, 372, 209}, 288},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.screenWidth << "x" << c.screenHeight);
        const WindowGeometry g = computeWindowGeometry(c.screenWidth, c.screenHeight, 60);
        const ScreenLayout L = computeLayout(g.width, g.height, scaledPictureSize(kPlayButtonSize, g.scale));
        EXPECT_EQ(L.fontBase, c.fontBase);
        EXPECT_EQ(L.strip, c.strip);
        EXPECT_EQ(L.mainLinks[0], c.firstLink) << describe(L.mainLinks[0]);
        EXPECT_EQ(L.play[0], c.play) << describe(L.play[0]);
        EXPECT_EQ(L.continueSlack, c.continueSlack);
    }
}

TEST(ScreenButtons, TakeTheirPlacesAndOnlyTheContinueAnswerHasSlack) {
    const ScreenLayout L = computeLayout(960, 540, {224, 126});
    ScreenButtons buttons;
    placeScreenButtons(buttons, L);
    EXPECT_EQ(buttons.play[1].rect(), L.play[1]);
    EXPECT_EQ(buttons.gearLinks[1].rect(), L.gearLinks[1]);
    for (ImageButton* button : allButtons(buttons)) {
        EXPECT_EQ(button->slack, button == &buttons.continueAnyway ? L.continueSlack : 0);
    }
}

}  // namespace
