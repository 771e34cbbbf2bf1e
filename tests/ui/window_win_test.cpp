// The launcher's window as a player meets it: a real process under Wine and Xvfb, looked at from
// outside through the window manager's view and screenshots.
#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "base/constants.h"
#include "config/settings.h"
#include "support/exe_pictures_win.h"
#include "support/launcher_window_win.h"
#include "support/test_env_win.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/image_table.h"
#include "ui/layout.h"
#include "ui/pictures_win.h"

namespace {

std::string settingsText(const WString& lurra, const WString& ktvx, Language language) {
    Settings settings;
    settings.branchFolders = {lurra, ktvx};
    settings.language = language;
    return buildSettingsText(settings);
}

class LauncherWindow : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(noLauncherWindowLeft()) << "a launcher window from elsewhere is still open";
        ASSERT_TRUE(launcher.copied());
        // Folders that exist but hold no game: no first-run question, nothing to update.
        ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\launcher.ini",
                                   settingsText(scratch.path(), L"", Language::English)));
    }

    ScratchDir scratch;
    LauncherProcess launcher{scratch / L"launcher"};
};

TEST_F(LauncherWindow, IsABorderlessPopupHalfTheScreenHighCentred) {
    ASSERT_TRUE(launcher.start());
    const HWND window = launcher.waitForWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(findLauncherWindow(), window);

    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_MINIMIZEBOX | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU),
              WS_POPUP | WS_MINIMIZEBOX);
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    EXPECT_EQ(WString(title), kProductTitle);

    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const WindowGeometry expected = computeWindowGeometry(screenWidth, screenHeight, 0);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    if (screenWidth == 1920 && screenHeight == 1080) {
        EXPECT_EQ(rect.left, 480);
        EXPECT_EQ(rect.top, 270);
        EXPECT_EQ(rect.right - rect.left, 960);
        EXPECT_EQ(rect.bottom - rect.top, 540);
    }
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, expected.width);  // no frame: the client area is the whole window
    EXPECT_EQ(client.bottom, expected.height);
    EXPECT_TRUE(launcher.close());
}

TEST_F(LauncherWindow, EveryPictureLoadsAtTheSizeItIsDrawnFor) {
    const ExePictures pictures(launcher.exePath());
    if (!pictures.any()) GTEST_SKIP() << "this build's executable carries no pictures";
    for (const ImageSpec& spec : kImageSpecs) {
        SCOPED_TRACE(testing::Message() << "picture " << spec.id);
        const DecodedPng png = pictures.load(spec.id);
        const auto& bitmap = png.bitmap;
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(static_cast<int32_t>(bitmap->GetWidth()), spec.size.width);
        EXPECT_EQ(static_cast<int32_t>(bitmap->GetHeight()), spec.size.height);
    }
}

TEST_F(LauncherWindow, ScreenShowsTheBackgroundAndTheButtonsAtTheirPlaces) {
    const ExePictures pictures(launcher.exePath());
    if (!pictures.any()) GTEST_SKIP() << "this build's executable carries no pictures";
    ASSERT_TRUE(launcher.start());
    const HWND window = launcher.waitForWindow();
    ASSERT_NE(window, nullptr);
    const ScreenLayout L = launcherLayout(window, launcher.exePath());
    const POINT origin = clientOrigin(window);
    Screenshot shot;
    // The first frame is painted once the window shows; give Wine a moment to put it on screen.
    ASSERT_TRUE(waitUntil(
        [&] {
            return shot.take("start") &&
                   !closeTo(shot.atClient(origin, L.width / 2, L.height / 2), {0, 0, 0}, 0);
        },
        10000));

    // Background: where nothing is drawn over it at start (the news column before any news).
    const auto background = pictures.at(kImageBackground, {L.width, L.height});
    ASSERT_NE(background, nullptr);
    for (const auto& [x, y] : {std::pair{L.news[0].left + 5, L.news[0].top + 5},
                               {L.news[1].left + L.news[1].width / 2, L.news[1].top + L.news[1].height / 2},
                               {L.news[2].right() - 5, L.news[2].bottom() - 5}}) {
        SCOPED_TRACE(testing::Message() << "background at " << x << "," << y);
        const Rgb seen = shot.atClient(origin, x, y);
        const Rgb expected = pixelOf(*background, x, y);
        EXPECT_TRUE(closeTo(seen, expected, 3)) << describe(seen) << " instead of " << describe(expected);
    }

    // Buttons: a solid pixel of the look each button starts in, away from its label, composed over
    // what lies under it.
    const struct {
        const char* name;
        IntRect rect;
        int32_t id;
        bool inTopStrip;
        double left, top, right, bottom;  // where to look, as fractions of the picture
    } buttons[] = {
        {"close", L.closeButton, kCloseImages.normal, true, 0.2, 0.2, 0.8, 0.8},
        {"gear", L.gearButton, kGearImages.normal, true, 0.2, 0.2, 0.8, 0.8},
        {"minimise", L.minimiseButton, kMinimiseImages.normal, true, 0.2, 0.2, 0.8, 0.8},
        {"language", L.languageButton, kLanguageImages.normal, true, 0.1, 0.0, 0.9, 0.15},
        {"first play (disabled)", L.play[0], kPlayImages.disabled, false, 0.0, 0.3, 0.04, 0.7},
        {"second play (disabled)", L.play[1], kPlayImages.disabled, false, 0.0, 0.3, 0.04, 0.7},
    };
    for (const auto& button : buttons) {
        SCOPED_TRACE(button.name);
        const PixelSize size = exePictureSize(launcher.exePath(), button.id, L.height);
        const auto picture = pictures.at(button.id, size);
        ASSERT_NE(picture, nullptr);
        const auto point = solidPixelIn(*picture, button.left, button.top, button.right, button.bottom);
        ASSERT_TRUE(point.has_value()) << "the picture has no solid pixel where it was looked for";
        const int x = button.rect.left + point->x;
        const int y = button.rect.top + point->y;
        const Rgb under = pixelOf(*background, x, y);
        const Rgb expected =
            blend(*picture, point->x, point->y, button.inTopStrip ? underTopStrip(under) : under);
        const Rgb seen = shot.atClient(origin, x, y);
        EXPECT_TRUE(closeTo(seen, expected, 4))
            << describe(seen) << " instead of " << describe(expected) << " at " << x << "," << y;
    }
    EXPECT_TRUE(launcher.close());
}

TEST_F(LauncherWindow, StartWithoutTheFontEndsWithNoFontInTheErrorLog) {
    // A prefix of its own without the "Segoe UI" mapping, with its own wineserver: the shared
    // prefix of the other tests keeps its font.
    const std::string build = VARNHOLD_BINARY_DIR;
    const std::string prefix = scratch.unixPath() + "/prefix";
    const std::string exe = unixPathFromWine(launcher.exePath());
    const std::string script = "set -e\ncp -a " + shellQuote(build + "/wine/template") + " " +
                               shellQuote(prefix) + "\n" + "sed -i '/\"Segoe UI\"=/d' " +
                               shellQuote(prefix + "/user.reg") + "\n" + "WINEPREFIX=" + shellQuote(prefix) +
                               " WINEDEBUG=-all nohup \"${WINE:-/usr/lib/wine/wine64}\" " + shellQuote(exe) +
                               " >" + shellQuote(scratch.unixPath() + "/wine.log") + " 2>&1 &\n";
    ASSERT_EQ(runUnixShell(script, 120000), 0);
    const WString log = launcher.folder() + L"\\launcher_error.log";
    const bool logged =
        waitUntil([&] { return readFileBytes(log) == std::optional<std::string>("No font!"); }, 60000);
    // The "Error!" box is open in the other prefix: seen from the X side, then the prefix ended.
    const int boxShown = runUnixShell("xdotool search --sync --limit 1 --name '^Error!$'", 20000);
    Screenshot shot;
    EXPECT_TRUE(shot.take("no-font-box"));
    runUnixShell("WINEPREFIX=" + shellQuote(prefix) + " wineserver -k; true", 30000);
    runUnixShell("rm -rf " + shellQuote(prefix), 60000);
    EXPECT_TRUE(logged) << "launcher_error.log: " << readFileBytes(log).value_or("(missing)");
    EXPECT_EQ(boxShown, 0) << "no window titled \"Error!\"";
}

}  // namespace
