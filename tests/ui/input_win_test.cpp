// Real mouse input to the launcher's window under Xvfb: clicks, presses, drags and moves as a
// player gives them, seen through the window's look and its place on the screen.
#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "base/constants.h"
#include "ui/launcher_test_fixture_win.h"

namespace {

class WindowInput : public RunningLauncher {
protected:
    // The gear panel's left edge is a bronze line where, with the panel closed, the rating panel's
    // dark inside shows.
    bool gearPanelShown(const std::string& name) {
        const Screenshot screen = shot(name);
        const int edge = layout.gearArea.left + 2;
        const int y = (layout.gearArea.top + layout.gearArea.bottom()) / 2 + layout.strip / 2;
        int brightest = 0;
        for (int x = edge - 3; x <= edge + 3; ++x) brightest = std::max(brightest, pixel(screen, x, y).r);
        return brightest > 110;
    }

    bool waitForGearPanel(bool shown, const std::string& name) {
        return waitUntil([&] { return gearPanelShown(name) == shown; }, 3000);
    }

    // A point of the news column: nothing there takes a click before news arrive.
    std::pair<int, int> emptySpot() const { return centre(layout.news[1]); }
};

TEST_F(WindowInput, GearButtonTogglesThePanelAndAClickOutsideClosesIt) {
    startIdle();
    ASSERT_FALSE(gearPanelShown("closed"));
    ASSERT_TRUE(click(layout.gearButton));
    EXPECT_TRUE(waitForGearPanel(true, "opened"));
    ASSERT_TRUE(click(layout.gearButton));
    EXPECT_TRUE(waitForGearPanel(false, "toggled-closed"));
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(true, "reopened"));
    ASSERT_TRUE(mouse::click(window, emptySpot().first, emptySpot().second));
    EXPECT_TRUE(waitForGearPanel(false, "outside-click"));
}

TEST_F(WindowInput, PressOnAButtonAndReleaseElsewhereIsNoClickButTheReverseIs) {
    startIdle();
    const auto [gx, gy] = centre(layout.gearButton);
    const auto [ox, oy] = emptySpot();
    ASSERT_TRUE(mouse::press(window, gx, gy));
    ASSERT_TRUE(mouse::moveTo(window, ox, oy));
    ASSERT_TRUE(mouse::release(window, ox, oy));
    Sleep(300);
    EXPECT_FALSE(gearPanelShown("released-elsewhere"));

    ASSERT_TRUE(mouse::press(window, ox, oy));
    ASSERT_TRUE(mouse::moveTo(window, gx, gy));
    ASSERT_TRUE(mouse::release(window, gx, gy));
    EXPECT_TRUE(waitForGearPanel(true, "released-on-gear"));
}

TEST_F(WindowInput, TheTitleStripDragsTheWindowButTheLinksDoNot) {
    startIdle();
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

    // A press on a main link is the link's, not a drag.
    GetWindowRect(window, &before);
    const auto [lx, ly] = centre(layout.mainLinks[0]);
    ASSERT_TRUE(mouse::drag(window, lx, ly, lx + 100, ly + 60));
    Sleep(300);
    GetWindowRect(window, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
}

TEST_F(WindowInput, TheLanguageButtonSavesTheOtherLanguageAndRedrawsTheTexts) {
    startIdle(Language::Russian);
    // The folder is not a game: the check ends at once with its summary.
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

TEST_F(WindowInput, LinksOpenTheirPagesThroughTheShell) {
    const BrowserStandIn browser(scratch / L"opened.log");
    ASSERT_TRUE(browser.installed());
    startIdle();
    const std::vector<std::string> expected = {kClientPageUrls[0], kClientPageUrls[1], kRatingPageUrl,
                                               kClientPageUrls[1]};
    ASSERT_TRUE(click(layout.mainLinks[0]));
    ASSERT_TRUE(browser.waitForCount(1));
    ASSERT_TRUE(click(layout.mainLinks[1]));
    ASSERT_TRUE(browser.waitForCount(2));
    ASSERT_TRUE(click(enclosing(layout.rating.footer)));
    ASSERT_TRUE(browser.waitForCount(3));
    // The gear panel's client link opens the same page and closes the panel.
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(true, "gear-open"));
    ASSERT_TRUE(click(layout.gearLinks[1]));
    ASSERT_TRUE(browser.waitForCount(4));
    EXPECT_TRUE(waitForGearPanel(false, "gear-link-closes"));
    EXPECT_EQ(browser.opened(), expected);
    // The test build's client pages.
    EXPECT_TRUE(std::string(kClientPageUrls[0]).size() > 7 &&
                std::string(kClientPageUrls[0]).substr(std::string(kClientPageUrls[0]).size() - 7) ==
                    "/mods/1");
    EXPECT_TRUE(std::string(kClientPageUrls[1]).size() > 10 &&
                std::string(kClientPageUrls[1]).substr(std::string(kClientPageUrls[1]).size() - 10) ==
                    "/download/");
}

}  // namespace
