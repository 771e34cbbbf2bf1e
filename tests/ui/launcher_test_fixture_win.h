#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <gtest/gtest.h>
#include <string>

#include "config/settings.h"
#include "support/exe_pictures_win.h"
#include "support/launcher_window_win.h"
#include "support/test_env_win.h"
#include "ui/canvas_win.h"
#include "ui/image_table.h"
#include "ui/layout.h"

// A launcher copy of this build in a scratch folder, started with a launcher.ini of the test's
// choosing, and its window with the layout it uses.
class RunningLauncher : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(noLauncherWindowLeft()) << "a launcher window from elsewhere is still open";
        ASSERT_TRUE(launcher.copied());
    }
    void TearDown() override { launcher.close(); }

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
        layout = launcherLayout(window, launcher.exePath());
        // The first tick and paint; Wine shows the frame a moment after the window appears.
        Sleep(700);
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

    [[nodiscard]] Rgb pixel(const Screenshot& screenshot, int x, int y) const {
        return screenshot.atClient(clientOrigin(window), x, y);
    }

    static std::pair<int, int> centre(const IntRect& r) {
        return {r.left + r.width / 2, r.top + r.height / 2};
    }
    bool click(const IntRect& r) { return mouse::click(window, centre(r).first, centre(r).second); }

    // The status line shows `text`: the screenshot's status area matches the text drawn by the
    // launcher's own drawing code over the background.
    void expectStatusShown(const WString& text, const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        ASSERT_TRUE(pictures.any());
        auto expected = pictures.at(kImageBackground, {layout.width, layout.height});
        ASSERT_NE(expected, nullptr);
        {
            Gdiplus::FontFamily family(L"Segoe UI");
            Canvas canvas(layout.width, layout.height, layout.fontBase, family);
            Gdiplus::Graphics graphics(expected.get());
            graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
            drawStatusText(canvas, graphics, layout.progressArea, text);
        }
        const POINT origin = clientOrigin(window);
        double share = 1;
        EXPECT_TRUE(waitUntil(
            [&] {
                Screenshot screen;
                if (!screen.take(name)) return false;
                share = differingShare(screen, origin, *expected, layout.progressArea, 40);
                return share < 0.01;
            },
            10000))
            << "status area differs from the text in " << share * 100 << " % of its pixels";
    }

    // The play button of a branch shows its enabled look (the normal picture), not the disabled one.
    [[nodiscard]] bool playLooksEnabled(size_t branch, const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        const PixelSize size = exePictureSize(launcher.exePath(), kImagePlayNormal, layout.height);
        const auto normal = pictures.at(kImagePlayNormal, size);
        const auto disabled = pictures.at(kImagePlayDisabled, size);
        const auto background = pictures.at(kImageBackground, {layout.width, layout.height});
        if (!normal || !disabled || !background) return false;
        const auto point = solidPixelIn(*normal, 0.0, 0.3, 0.04, 0.7);
        if (!point) return false;
        const IntRect& r = layout.play[branch];
        const int x = r.left + point->x;
        const int y = r.top + point->y;
        const Rgb under = pixelOf(*background, x, y);
        Screenshot screen;
        if (!screen.take(name)) return false;
        const Rgb seen = screen.atClient(clientOrigin(window), x, y);
        const Rgb enabledLook = blend(*normal, point->x, point->y, under);
        const Rgb disabledLook = blend(*disabled, point->x, point->y, under);
        return closeTo(seen, enabledLook, 6) && !closeTo(seen, disabledLook, 6);
    }

    // The in-window question lays a dark layer and its nearly black box over the screen: where the
    // background is bright enough to tell, the box's lower half is far darker than the background.
    [[nodiscard]] bool questionShown(const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        const auto background = pictures.at(kImageBackground, {layout.width, layout.height});
        Screenshot screen;
        if (!background || !screen.take(name)) return false;
        const POINT origin = clientOrigin(window);
        const IntRect& box = layout.questionBox;
        int bright = 0;
        int darkened = 0;
        for (int y = box.top + box.height / 2; y < box.bottom() - 4; y += 9) {
            for (int x = box.left + 8; x < box.right() - 8; x += 23) {
                const Rgb plain = pixelOf(*background, x, y);
                if (plain.r + plain.g + plain.b < 90) continue;
                ++bright;
                const Rgb seen = screen.atClient(origin, x, y);
                if ((seen.r + seen.g + seen.b) * 3 < plain.r + plain.g + plain.b) ++darkened;
            }
        }
        return bright >= 5 && darkened * 10 >= bright * 9;
    }

    ScratchDir scratch;
    LauncherProcess launcher{scratch / L"launcher"};
    HWND window = nullptr;
    ScreenLayout layout;
};
