#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>

#include "config/settings.h"
#include "support/exe_pictures_win.h"
#include "support/launcher_process_win.h"
#include "support/screen_win.h"
#include "support/test_env_win.h"
#include "ui/canvas_win.h"
#include "ui/image_table.h"
#include "ui/layout.h"
#include "ui/text_fit_win.h"

// What the rating panel's results area shows, read off a screenshot: ink is whatever differs from
// the shaded background there. A row of results is a band of rows 1.45 units high holding white or
// gold ink; a message of the panel is grey ink in one or more lines.
struct RatingLook {
    int rows = 0;
    bool firstGold = false;  // the first row gold, no other
    int messageLines = 0;
};

// One launcher under test: a copy of this build in a scratch folder, its window with the layout it
// uses, and the build's pictures. A test owns one (RunningLauncher), or a suite shares one
// (IdleWindow).
struct LauncherSession {
    ScratchDir scratch;
    LauncherProcess launcher{scratch / L"launcher"};
    // Read from the build's file: the copy under test is renamed and deleted by a self-update.
    ExePictures pictures{builtLauncherPath()};
    HWND window = nullptr;
    ScreenLayout layout;
    std::unique_ptr<Gdiplus::Bitmap> background;
};

// A launcher session seen from a test: started with a launcher.ini of the test's choosing, and
// what its pictures and texts put on the screen.
class LauncherScreen {
public:
    explicit LauncherScreen(std::shared_ptr<LauncherSession> shared) : session(std::move(shared)) {}

    // The session's launcher was copied, and this build's executable carries its pictures.
    void expectUsable() {
        ASSERT_TRUE(noLauncherWindowLeft()) << "a launcher window from elsewhere is still open";
        ASSERT_TRUE(launcher.copied());
        ASSERT_TRUE(pictures.any()) << "this build's executable carries no pictures";
    }

    [[nodiscard]] static std::string settingsText(const WString& lurra, const WString& ktvx,
                                                  Language language) {
        Settings settings;
        settings.branchFolders = {lurra, ktvx};
        settings.language = language;
        return buildSettingsText(settings);
    }

    // Writes launcher.ini, starts the launcher and waits for its window and first frame.
    void startWith(const std::string& settings, const WString& tail = L"") {
        ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\launcher.ini", settings));
        ASSERT_TRUE(launcher.start(tail));
        window = launcher.waitForWindow();
        ASSERT_NE(window, nullptr);
        layout = pictures.layoutOf(window);
        background = pictures.at(kImageBackground, {layout.width, layout.height});
        ASSERT_NE(background, nullptr);
        // Wine shows the first frame a moment after the window appears.
        ASSERT_TRUE(
            waitUntil([&] { return !closeTo(pixel(shot("start"), 5, layout.height / 2), {}, 0); }, 10000));
    }

    // Folders that exist but hold no game: no first-run question and nothing to update.
    void startIdle(Language language = Language::English) {
        startWith(settingsText(scratch.path(), L"", language));
    }

    [[nodiscard]] Screenshot shot(const std::string& name) {
        Screenshot screenshot;
        EXPECT_TRUE(screenshot.take(name));
        return screenshot;
    }
    [[nodiscard]] Rgb pixel(const Screenshot& screen, int x, int y) const {
        return screen.atClient(clientOrigin(window), x, y);
    }
    static std::pair<int, int> centre(const IntRect& r) {
        return {r.left + r.width / 2, r.top + r.height / 2};
    }
    bool click(const IntRect& r) { return mouse::click(window, centre(r).first, centre(r).second); }

    // A solid pixel of picture `id` (searched in the part of it given as fractions of its size,
    // where no label covers it) shows at its place in `rect`, over the background or, in the top
    // strip, over the strip's shade.
    testing::AssertionResult showsPicture(const Screenshot& screen, int32_t id, const IntRect& rect,
                                          std::array<double, 4> part, bool inTopStrip = false) {
        const auto picture = pictures.at(id, pictures.sizeAt(id, layout.height));
        const auto point =
            picture ? solidPixelIn(*picture, part[0], part[1], part[2], part[3]) : std::nullopt;
        if (!point) return testing::AssertionFailure() << "picture " << id << " has no solid pixel there";
        const int x = rect.left + point->x;
        const int y = rect.top + point->y;
        const Rgb under = pixelOf(*background, x, y);
        const Rgb expected = blend(*picture, point->x, point->y, inTopStrip ? shaded(under) : under);
        const Rgb seen = pixel(screen, x, y);
        if (closeTo(seen, expected, kPictureTolerance)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "picture " << id << " at " << x << "," << y << ": "
                                           << describe(seen) << " instead of " << describe(expected);
    }

    [[nodiscard]] bool playLooksEnabled(size_t branch, const std::string& name) {
        const Screenshot screen = shot(name);
        const std::array<double, 4> frameEdge = {0.0, 0.3, 0.04, 0.7};
        return showsPicture(screen, kImagePlayNormal, layout.play[branch], frameEdge) &&
               !showsPicture(screen, kImagePlayDisabled, layout.play[branch], frameEdge);
    }

    // The status line shows `text`: the status area matches the text drawn by the launcher's own
    // drawing code over the background.
    void expectStatusShown(const WString& text, const std::string& name) {
        auto expected = pictures.at(kImageBackground, {layout.width, layout.height});
        {
            Gdiplus::FontFamily family(L"Segoe UI");
            Canvas canvas(layout.width, layout.height, layout.fontBase, family);
            Gdiplus::Graphics graphics(expected.get());
            graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
            drawStatusText(canvas, graphics, layout.progressArea, text);
        }
        double share = 1;
        EXPECT_TRUE(waitUntil(
            [&] {
                share = differingShare(shot(name), clientOrigin(window), *expected, layout.progressArea,
                                       kTextTolerance);
                return share < kTextMismatchShare;
            },
            10000))
            << "status area differs from the text in " << share * 100 << " % of its pixels";
    }

    // The in-window question lays a dark layer and its nearly black box over the screen: where the
    // background is bright enough to tell, the box's lower half is far darker than the background.
    [[nodiscard]] bool questionShown(const std::string& name) {
        const Screenshot screen = shot(name);
        const IntRect& box = layout.questionBox;
        int bright = 0;
        int darkened = 0;
        for (int y = box.top + box.height / 2; y < box.bottom() - 4; y += 9) {
            for (int x = box.left + 8; x < box.right() - 8; x += 23) {
                const Rgb plain = pixelOf(*background, x, y);
                if (plain.r + plain.g + plain.b < 90) continue;
                ++bright;
                const Rgb seen = pixel(screen, x, y);
                if ((seen.r + seen.g + seen.b) * 3 < plain.r + plain.g + plain.b) ++darkened;
            }
        }
        return bright >= 5 && darkened * 10 >= bright * 9;
    }

    // The gear panel's left edge is a bronze line where, with the panel closed, the rating panel's
    // dark inside shows.
    [[nodiscard]] bool gearPanelShown(const std::string& name) {
        const Screenshot screen = shot(name);
        const int edge = layout.gearArea.left + 2;
        const int y = (layout.gearArea.top + layout.gearArea.bottom()) / 2 + layout.strip / 2;
        int brightest = 0;
        for (int x = edge - 3; x <= edge + 3; ++x) brightest = std::max(brightest, pixel(screen, x, y).r);
        return brightest > 110;
    }
    [[nodiscard]] bool waitForGearPanel(bool shown, const std::string& name) {
        return waitUntil([&] { return gearPanelShown(name) == shown; }, 3000);
    }

    [[nodiscard]] RatingLook ratingLook(const std::string& name) {
        const Screenshot screen = shot(name);
        const IntRect list = enclosing(layout.rating.list);
        const float rowHeight = 1.45f * layout.rating.unit;
        std::array<int, 16> white{}, gold{};
        int lines = 0;
        int greyRun = 0;
        for (int y = list.top; y < list.bottom(); ++y) {
            const size_t row = std::min<size_t>(static_cast<size_t>((y - list.top) / rowHeight), 15);
            int grey = 0;
            for (int x = list.left; x < list.right(); ++x) {
                const Rgb seen = pixel(screen, x, y);
                const Rgb base = shaded(pixelOf(*background, x, y));
                if (std::max({std::abs(seen.r - base.r), std::abs(seen.g - base.g),
                              std::abs(seen.b - base.b)}) < 50)
                    continue;
                if (seen.r > 150 && seen.r - seen.b > 90) {
                    ++gold[row];
                } else if (std::min({seen.r, seen.g, seen.b}) > 175) {
                    ++white[row];
                } else {
                    ++grey;
                }
            }
            // A line of a message: a run of at least four pixel rows with grey ink.
            greyRun = grey >= 3 ? greyRun + 1 : 0;
            if (greyRun == 4) ++lines;
        }
        RatingLook look;
        look.firstGold = gold[0] >= 20;
        for (size_t i = 0; i < white.size(); ++i) {
            if (white[i] + gold[i] >= 20) ++look.rows;
            if (i > 0 && gold[i] >= 20) look.firstGold = false;
        }
        look.messageLines = look.rows == 0 ? lines : 0;
        return look;
    }

    std::shared_ptr<LauncherSession> session;
    ScratchDir& scratch = session->scratch;
    LauncherProcess& launcher = session->launcher;
    ExePictures& pictures = session->pictures;
    HWND& window = session->window;
    ScreenLayout& layout = session->layout;
    std::unique_ptr<Gdiplus::Bitmap>& background = session->background;
};

// A launcher of its own for each test.
class RunningLauncher : public testing::Test, public LauncherScreen {
protected:
    RunningLauncher() : LauncherScreen(std::make_shared<LauncherSession>()) {}
    void SetUp() override { expectUsable(); }
    void TearDown() override { launcher.close(); }
};

// One launcher for every test of a suite, started before the first: its folder holds no game and
// its rating service is down (nothing listens on its port in the test build), and the prefix's
// browser is the stand-in. The tests run in their order in the file, each leaving the window as
// it found it.
class IdleWindow : public testing::Test, public LauncherScreen {
protected:
    IdleWindow() : LauncherScreen(shared) {}
    static void SetUpTestSuite() {
        shared = std::make_shared<LauncherSession>();
        browser = std::make_unique<BrowserStandIn>(shared->scratch / L"opened.log");
        ASSERT_TRUE(browser->installed());
        LauncherScreen screen(shared);
        screen.expectUsable();
        screen.startIdle(Language::Russian);
    }
    static void TearDownTestSuite() {
        if (shared) shared->launcher.close();
        shared.reset();
        browser.reset();
    }
    void SetUp() override { ASSERT_NE(window, nullptr) << "the launcher did not show its window"; }

    static inline std::shared_ptr<LauncherSession> shared;
    static inline std::unique_ptr<BrowserStandIn> browser;
};
