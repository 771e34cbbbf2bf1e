// The launcher's window as a player meets it: a real process under Wine and Xvfb, looked at from
// outside through the window manager's view and screenshots, and driven by real mouse input.
#include <windows.h>

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/constants.h"
#include "ui/launcher_test_fixture_win.h"

namespace {

TEST_F(RunningLauncher, EveryPictureLoadsAtTheSizeItIsDrawnFor) {
    for (const ImageSize& picture : kImageSizes) {
        SCOPED_TRACE(testing::Message() << "picture " << picture.id);
        const DecodedPng png = pictures.load(picture.id);
        ASSERT_NE(png.bitmap, nullptr);
        EXPECT_EQ(static_cast<int32_t>(png.bitmap->GetWidth()), picture.size.width);
        EXPECT_EQ(static_cast<int32_t>(png.bitmap->GetHeight()), picture.size.height);
    }
}

// The tests of IdleWindow share one launcher (launcher_test_fixture_win.h) and go through every
// step that needs no update server.

TEST_F(IdleWindow, IsABorderlessPopupHalfTheScreenHighCentred) {
    EXPECT_EQ(findLauncherWindow(), window);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_MINIMIZEBOX | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU),
              WS_POPUP | WS_MINIMIZEBOX);
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    EXPECT_EQ(WString(title), kProductTitle);
    const WindowGeometry expected =
        computeWindowGeometry(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 0);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(layout.width, expected.width);  // no frame: the client area is the whole window
    EXPECT_EQ(layout.height, expected.height);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    // What a player sees on the tests' 1920 x 1080 screen, whatever the arithmetic of this build:
    // computed in the x87 unit's 80-bit precision, the width came out 959.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
    EXPECT_EQ(rect.right - rect.left, 960);
    EXPECT_EQ(rect.bottom - rect.top, 540);
}

TEST_F(IdleWindow, ShowsTheBackgroundAndTheButtonsFirstLooks) {
    const Screenshot screen = shot("first-frame");
    // The news column shows the background before any news.
    const IntRect& news = layout.news[1];
    for (const auto& [x, y] :
         {std::pair{news.left + 5, news.top + 5}, centre(news), {news.right() - 5, news.bottom() - 5}}) {
        const Rgb seen = pixel(screen, x, y);
        const Rgb expected = pixelOf(*background, x, y);
        EXPECT_TRUE(closeTo(seen, expected, kBackgroundTolerance))
            << describe(seen) << " instead of " << describe(expected);
    }
    const std::array<double, 4> middle = {0.2, 0.2, 0.8, 0.8};
    EXPECT_TRUE(showsPicture(screen, kCloseImages.normal, layout.closeButton, middle, true));
    EXPECT_TRUE(showsPicture(screen, kGearImages.normal, layout.gearButton, middle, true));
    EXPECT_TRUE(showsPicture(screen, kMinimiseImages.normal, layout.minimiseButton, middle, true));
    EXPECT_TRUE(
        showsPicture(screen, kLanguageImages.normal, layout.languageButton, {0.1, 0, 0.9, 0.15}, true));
    for (size_t i = 0; i < layout.play.size(); ++i) {
        EXPECT_TRUE(showsPicture(screen, kPlayImages.disabled, layout.play[i], {0.0, 0.3, 0.04, 0.7}));
    }
}

TEST_F(IdleWindow, TheRatingPanelSaysTheServiceIsUnavailableInTwoLines) {
    RatingLook look;
    EXPECT_TRUE(waitUntil([&] { return (look = ratingLook("rating-down")).messageLines == 2; }, 15000))
        << look.rows << " rows, " << look.messageLines << " message lines";
}

TEST_F(IdleWindow, TheLanguageButtonSavesTheOtherLanguageAndRedrawsTheSummary) {
    expectStatusShown(L"LURRA 1.44 — в папке нет Tharnvl2.exe!\nKORDAN TVX — папка не выбрана", "russian");
    ASSERT_TRUE(click(layout.languageButton));
    expectStatusShown(L"LURRA 1.44 — no Tharnvl2.exe in folder!\nKORDAN TVX — folder not set", "english");
    EXPECT_EQ(readFileBytes(launcher.folder() + L"\\launcher.ini"),
              std::optional<std::string>(settingsText(scratch.path(), L"", Language::English)));
    ASSERT_TRUE(click(layout.languageButton));
    expectStatusShown(L"LURRA 1.44 — в папке нет Tharnvl2.exe!\nKORDAN TVX — папка не выбрана",
                      "russian-again");
    EXPECT_EQ(readFileBytes(launcher.folder() + L"\\launcher.ini"),
              std::optional<std::string>(settingsText(scratch.path(), L"", Language::Russian)));
}

TEST_F(IdleWindow, TheGearButtonTogglesItsPanelAndAClickOutsideClosesIt) {
    // A point of the news column: nothing there takes a click before news arrive.
    const auto [ox, oy] = centre(layout.news[1]);
    ASSERT_FALSE(gearPanelShown("gear-closed"));
    ASSERT_TRUE(click(layout.gearButton));
    EXPECT_TRUE(waitForGearPanel(true, "gear-opened"));
    ASSERT_TRUE(click(layout.gearButton));
    EXPECT_TRUE(waitForGearPanel(false, "gear-toggled-closed"));
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(true, "gear-reopened"));
    ASSERT_TRUE(mouse::click(window, ox, oy));
    EXPECT_TRUE(waitForGearPanel(false, "gear-outside-click"));
}

TEST_F(IdleWindow, APressOnAButtonReleasedElsewhereIsNoClickTheReverseIs) {
    const auto [ox, oy] = centre(layout.news[1]);
    const auto [gx, gy] = centre(layout.gearButton);
    ASSERT_TRUE(mouse::drag(window, gx, gy, ox, oy));
    Sleep(300);
    EXPECT_FALSE(gearPanelShown("released-elsewhere"));
    ASSERT_TRUE(mouse::drag(window, ox, oy, gx, gy));
    EXPECT_TRUE(waitForGearPanel(true, "released-on-gear"));
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(false, "gear-closed-again"));
}

TEST_F(IdleWindow, LinksOpenTheirPagesThroughTheShell) {
    ASSERT_TRUE(click(layout.mainLinks[0]));
    ASSERT_TRUE(browser->waitForCount(1));
    ASSERT_TRUE(click(layout.mainLinks[1]));
    ASSERT_TRUE(browser->waitForCount(2));
    ASSERT_TRUE(click(enclosing(layout.rating.footer)));
    ASSERT_TRUE(browser->waitForCount(3));
    // The gear panel's client link opens the same page and closes the panel.
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(true, "gear-open"));
    ASSERT_TRUE(click(layout.gearLinks[1]));
    ASSERT_TRUE(browser->waitForCount(4));
    EXPECT_TRUE(waitForGearPanel(false, "gear-link-closes"));
    EXPECT_EQ(browser->opened(), (std::vector<std::string>{kClientPageUrls[0], kClientPageUrls[1],
                                                           kRatingPageUrl, kClientPageUrls[1]}));
    // The test build's client pages.
    EXPECT_TRUE(std::string(kClientPageUrls[0]).rfind("/mods/1") + 7 ==
                std::string(kClientPageUrls[0]).size());
    EXPECT_TRUE(std::string(kClientPageUrls[1]).rfind("/download/") + 10 ==
                std::string(kClientPageUrls[1]).size());
}

// Last: it moves the window.
TEST_F(IdleWindow, TheTitleStripDragsTheWindowALinkDoesNot) {
    RECT before{};
    GetWindowRect(window, &before);
    ASSERT_TRUE(mouse::drag(window, 40, layout.strip / 2, 40 + 120, layout.strip / 2 + 70));
    RECT after{};
    EXPECT_TRUE(waitUntil(
        [&] {
            GetWindowRect(window, &after);
            return after.left == before.left + 120 && after.top == before.top + 70;
        },
        3000))
        << "the window is at " << after.left << "," << after.top << ", was at " << before.left << ","
        << before.top;
    GetWindowRect(window, &before);
    const size_t opened = browser->opened().size();
    const auto [lx, ly] = centre(layout.mainLinks[0]);
    ASSERT_TRUE(mouse::drag(window, lx, ly, lx + 100, ly + 60));
    Sleep(300);
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_EQ(browser->opened().size(), opened);  // released away from the link: no click either
}

// A new launcher after a self-update (started with -postupdate, the backup beside it) that fails so
// puts the backup back before it shows the box: the player may leave the box open for as long as he
// likes, and the old launcher may no longer be waiting.
TEST_F(RunningLauncher, StartWithoutTheFontEndsWithNoFontInTheErrorLog) {
    // A prefix of its own without the "Segoe UI" mapping, with its own wineserver: the shared
    // prefix of the other tests keeps its font.
    const std::string prefix = scratch.unixPath() + "/prefix";
    const auto build = readFileBytes(launcher.exePath());
    ASSERT_TRUE(build.has_value());
    for (const bool afterUpdate : {false, true}) {
        SCOPED_TRACE(afterUpdate ? "after a self-update" : "a plain start");
        const WString backup = launcher.folder() + L"\\old_launcher.bak";
        if (afterUpdate) {
            ASSERT_TRUE(writeFileBytes(backup, "the previous launcher"));
        }
        const std::string script = "set -e\n[ -d " + shellQuote(prefix) + " ] || { cp -a " +
                                   shellQuote(std::string(VARNHOLD_BINARY_DIR) + "/wine/template") + " " +
                                   shellQuote(prefix) + " && sed -i '/\"Segoe UI\"=/d' " +
                                   shellQuote(prefix + "/user.reg") +
                                   "; }\nWINEPREFIX=" + shellQuote(prefix) +
                                   " WINEDEBUG=-all nohup \"${WINE:-/usr/lib/wine/wine64}\" " +
                                   shellQuote(unixPathFromWine(launcher.exePath())) +
                                   (afterUpdate ? " -ignoreinstances -postupdate" : "") + " >" +
                                   shellQuote(scratch.unixPath() + "/wine.log") + " 2>&1 &\n";
        ASSERT_EQ(runUnixShell(script, 120000), 0);
        const WString log = launcher.folder() + L"\\launcher_error.log";
        const bool logged =
            waitUntil([&] { return readFileBytes(log) == std::optional<std::string>("No font!"); }, 60000);
        // The "Error!" box is open in the other prefix: seen from the X side, then the prefix ended.
        const int boxShown = runUnixShell("xdotool search --sync --limit 1 --name '^Error!$'", 20000);
        (void)shot(afterUpdate ? "no-font-box-after-update" : "no-font-box");
        if (afterUpdate) {
            // While the box is still open.
            EXPECT_TRUE(readFileBytes(launcher.exePath()) ==
                        std::optional<std::string>("the previous launcher"))
                << "the failed launcher is still at the module path";
            EXPECT_TRUE(readFileBytes(launcher.folder() + L"\\latest_launcher.failed") == build);
            EXPECT_FALSE(fileExists(backup));
        }
        runUnixShell("WINEPREFIX=" + shellQuote(prefix) + " wineserver -k; true", 30000);
        EXPECT_TRUE(logged) << "launcher_error.log: " << readFileBytes(log).value_or("(missing)");
        EXPECT_EQ(boxShown, 0) << "no window titled \"Error!\"";
        DeleteFileW(log.c_str());
    }
    runUnixShell("rm -rf " + shellQuote(prefix), 60000);
}

}  // namespace
