// Real mouse input to the launcher's window under Xvfb: clicks, presses, drags and moves as a
// player gives them, seen through the window's look and its place on the screen.
#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>

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

TEST_F(WindowInput, ADisabledPlayButtonShowsNoHover) {
    startIdle();
    // The play buttons start disabled; the gear button shows how a hover looks.
    const auto [px, py] = centre(layout.play[0]);
    const Screenshot away = shot("away");
    ASSERT_TRUE(mouse::moveTo(window, px, py));
    Sleep(300);
    const Screenshot over = shot("over-play");
    const int x = layout.play[0].left + 3;  // the frame, clear of the labels
    for (int y = layout.play[0].top + layout.play[0].height / 3;
         y < layout.play[0].top + 2 * layout.play[0].height / 3; y += 5) {
        EXPECT_TRUE(closeTo(pixel(away, x, y), pixel(over, x, y), 2)) << "row " << y;
    }
    const auto [gx, gy] = centre(layout.gearButton);
    ASSERT_TRUE(mouse::moveTo(window, gx, gy));
    Sleep(300);
    const Screenshot overGear = shot("over-gear");
    int changed = 0;
    for (int y = layout.gearButton.top; y < layout.gearButton.bottom(); y += 2) {
        for (int gxp = layout.gearButton.left; gxp < layout.gearButton.right(); gxp += 2) {
            if (!closeTo(pixel(away, gxp, y), pixel(overGear, gxp, y), 6)) ++changed;
        }
    }
    EXPECT_GT(changed, 10) << "the hovered gear button looks like the normal one";
}

}  // namespace
