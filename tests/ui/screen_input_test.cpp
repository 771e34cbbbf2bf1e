#include "ui/screen_input.h"

#include <gtest/gtest.h>

#include "ui/layout.h"

namespace {

class ScreenInput : public testing::Test {
protected:
    void SetUp() override {
        placeScreenButtons(buttons, layout);
        applyLayoutToInput(state, layout);
        for (ImageButton& play : buttons.play) play.disabled = false;
    }

    static std::pair<int32_t, int32_t> centre(const IntRect& r) {
        return {r.left + r.width / 2, r.top + r.height / 2};
    }
    MouseUpOutcome clickAt(int32_t x, int32_t y) {
        (void)routeMouseDown(buttons, state, x, y, layout.width);
        return routeMouseUp(buttons, state, x, y);
    }
    MouseUpOutcome clickAt(const IntRect& r) { return clickAt(centre(r).first, centre(r).second); }

    ScreenLayout layout = computeLayout(960, 540, {224, 126});
    ScreenButtons buttons;
    InputState state;
};

TEST_F(ScreenInput, ReleaseOnTheButtonClicksWhereverThePressBegan) {
    const auto [px, py] = centre(layout.play[0]);
    const auto [ox, oy] = centre(layout.progressArea);

    // Press on the button, move off, release elsewhere: no click, and the look is back to normal.
    EXPECT_TRUE(routeMouseDown(buttons, state, px, py, layout.width).repaint.any());
    EXPECT_TRUE(buttons.play[0].pressed);
    EXPECT_TRUE(routeMouseMove(buttons, state, ox, oy).any());
    (void)routeMouseUp(buttons, state, ox, oy);
    EXPECT_FALSE(buttons.play[0].clicked);
    EXPECT_FALSE(buttons.play[0].pressed);
    EXPECT_FALSE(buttons.play[0].hovered);

    // Press elsewhere, release on the button: a click.
    (void)routeMouseDown(buttons, state, ox, oy, layout.width);
    const MouseUpOutcome up = routeMouseUp(buttons, state, px, py);
    EXPECT_TRUE(buttons.play[0].clicked);
    ASSERT_EQ(up.repaint.rects.size(), 1u);
    EXPECT_EQ(up.repaint.rects[0], layout.play[0]);  // only the button's own rectangle
    EXPECT_TRUE(takeClick(buttons.play[0]));
    EXPECT_FALSE(takeClick(buttons.play[0]));  // consumed once
    EXPECT_FALSE(buttons.play[0].hovered);
}

TEST_F(ScreenInput, ADisabledButtonNeitherHoversNorClicks) {
    buttons.play[1].disabled = true;
    const auto [x, y] = centre(layout.play[1]);
    EXPECT_FALSE(routeMouseMove(buttons, state, x, y).any());
    EXPECT_FALSE(buttons.play[1].hovered);
    (void)clickAt(layout.play[1]);
    EXPECT_FALSE(buttons.play[1].clicked);
    EXPECT_FALSE(buttons.play[1].pressed);
    // Disabling a hovered button drops its hover, so it comes back in its normal look.
    buttons.play[0].hovered = true;
    EXPECT_TRUE(setButtonEnabled(buttons.play[0], false));
    EXPECT_EQ(buttonLook(buttons.play[0]), ButtonLook::Disabled);
    EXPECT_TRUE(setButtonEnabled(buttons.play[0], true));
    EXPECT_EQ(buttonLook(buttons.play[0]), ButtonLook::Normal);
}

TEST_F(ScreenInput, OutsideClickClosesTheGearPanelButTheGearButtonOnlyToggles) {
    state.gearPanelOpen = true;
    // The first folder button lies over a rating tab, which the click does not reach.
    const auto [fx, fy] = centre(layout.folderButtons[0]);
    ASSERT_TRUE(layout.rating.tabs[3].contains(static_cast<float>(fx), static_cast<float>(fy)));
    (void)clickAt(layout.folderButtons[0]);
    EXPECT_EQ(state.ratingTab, 1);  // as at start
    // A click on a gear panel button keeps the panel and clicks the button.
    MouseUpOutcome up = clickAt(layout.folderButtons[1]);
    EXPECT_TRUE(state.gearPanelOpen);
    EXPECT_TRUE(buttons.folders[1].clicked);
    EXPECT_FALSE(up.repaint.wholeWindow);

    // The gear button itself: recorded as a click for the tick to toggle, not an outside click.
    up = clickAt(layout.gearButton);
    EXPECT_TRUE(state.gearPanelOpen);
    EXPECT_TRUE(buttons.gear.clicked);

    // Anywhere else outside the bubble the panel closes, and the click goes on to what lies under
    // it: here a rating tab.
    up = clickAt(enclosing(layout.rating.tabs[0]));
    EXPECT_FALSE(state.gearPanelOpen);
    EXPECT_TRUE(up.repaint.wholeWindow);
    EXPECT_EQ(state.ratingTab, 0);

    // Closed, its buttons take no input.
    (void)clickAt(layout.verifyButton);
    EXPECT_FALSE(buttons.verify.clicked);
}

TEST_F(ScreenInput, WhileTheQuestionIsOpenOnlyItsAnswersReactAndTheWholeStripDrags) {
    state.questionOpen = true;
    (void)clickAt(layout.closeButton);
    EXPECT_FALSE(buttons.close.clicked);
    EXPECT_FALSE(buttons.close.pressed);
    (void)clickAt(layout.play[0]);
    EXPECT_FALSE(buttons.play[0].clicked);

    // Over the close button the strip still drags: the drag limit is the window's width.
    EXPECT_TRUE(routeMouseDown(buttons, state, layout.closeButton.left + 2, 5, layout.width).dragWindow);
    (void)routeMouseUp(buttons, state, 0, 0);

    // The continue-anyway answer takes clicks up to its slack left of the arrow.
    (void)clickAt(layout.continueAnyway.left - layout.continueSlack + 1, layout.continueAnyway.top + 2);
    EXPECT_TRUE(buttons.continueAnyway.clicked);
    buttons.continueAnyway.clicked = false;
    (void)clickAt(layout.continueAnyway.left - layout.continueSlack, layout.continueAnyway.top + 2);
    EXPECT_FALSE(buttons.continueAnyway.clicked);
    (void)clickAt(layout.tryAgainAdmin);
    EXPECT_TRUE(buttons.tryAgainAdmin.clicked);
}

TEST_F(ScreenInput, TheTitleStripDragsLeftOfTheLanguageButtonExceptOnTheLinks) {
    const struct {
        const char* where;
        int32_t x, y;
        bool drags;
    } cases[] = {
        {"title", 20, 5, true},
        {"strip's last row", 20, layout.strip - 1, true},
        {"under the strip", 20, layout.strip, false},
        {"first main link", centre(layout.mainLinks[0]).first, centre(layout.mainLinks[0]).second, false},
        {"second main link", centre(layout.mainLinks[1]).first, centre(layout.mainLinks[1]).second, false},
        {"version", layout.versionArea.left + 2, 5, true},
        {"language button", layout.languageButton.left, 5, false},
        {"close button", layout.closeButton.left + 2, 5, false},
        {"left of the window", -5, 5, true},  // a monitor left of the primary gives negative x
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        EXPECT_EQ(routeMouseDown(buttons, state, c.x, c.y, layout.width).dragWindow, c.drags);
        (void)routeMouseUp(buttons, state, -1, -1);
    }
}

TEST_F(ScreenInput, RatingTabsSelectAndTheFooterOpensThePage) {
    MouseUpOutcome up = clickAt(enclosing(layout.rating.tabs[3]));
    EXPECT_EQ(state.ratingTab, 3);
    EXPECT_TRUE(up.repaint.wholeWindow);
    up = clickAt(enclosing(layout.rating.tabs[3]));
    EXPECT_FALSE(up.repaint.wholeWindow);  // no change, nothing to repaint
    EXPECT_FALSE(up.openRatingPage);
    up = clickAt(enclosing(layout.rating.footer));
    EXPECT_TRUE(up.openRatingPage);
    up = clickAt(layout.rating.panel.left + 3, layout.rating.panel.top + 1);  // the title row
    EXPECT_FALSE(up.openRatingPage);
}

TEST_F(ScreenInput, CursorIsAHandOverLinksAndTabsOnly) {
    const auto tab = centre(enclosing(layout.rating.tabs[2]));
    const auto footer = centre(enclosing(layout.rating.footer));
    EXPECT_EQ(cursorShape(buttons, state, tab.first, tab.second), CursorShape::Hand);
    EXPECT_EQ(cursorShape(buttons, state, footer.first, footer.second), CursorShape::Hand);
    EXPECT_EQ(cursorShape(buttons, state, 5, 5), CursorShape::Arrow);

    (void)routeMouseMove(buttons, state, centre(layout.mainLinks[1]).first,
                         centre(layout.mainLinks[1]).second);
    EXPECT_EQ(cursorShape(buttons, state, 0, 0), CursorShape::Hand);
    (void)routeMouseMove(buttons, state, centre(layout.news[2]).first, centre(layout.news[2]).second);
    EXPECT_EQ(cursorShape(buttons, state, 0, 0), CursorShape::Hand);
    (void)routeMouseMove(buttons, state, centre(layout.play[0]).first, centre(layout.play[0]).second);
    EXPECT_EQ(cursorShape(buttons, state, 0, 0), CursorShape::Arrow);  // a play button is no link

    // With the gear panel open only its client links show the hand; the tabs under it do not.
    state.gearPanelOpen = true;
    EXPECT_EQ(cursorShape(buttons, state, tab.first, tab.second), CursorShape::Arrow);
    (void)routeMouseMove(buttons, state, centre(layout.gearLinks[0]).first,
                         centre(layout.gearLinks[0]).second);
    EXPECT_EQ(cursorShape(buttons, state, 0, 0), CursorShape::Hand);

    // The question wins over everything.
    state.questionOpen = true;
    EXPECT_EQ(cursorShape(buttons, state, tab.first, tab.second), CursorShape::Arrow);
}

TEST_F(ScreenInput, LeavingTheWindowResetsOnlyTheButtonsTakingInput) {
    (void)routeMouseMove(buttons, state, centre(layout.closeButton).first, centre(layout.closeButton).second);
    buttons.verify.hovered = true;  // left from when the gear panel was open
    const Repaint repaint = resetButtonsTakingInput(buttons, state);
    EXPECT_FALSE(buttons.close.hovered);
    ASSERT_EQ(repaint.rects.size(), 1u);
    EXPECT_EQ(repaint.rects[0], layout.closeButton);
    EXPECT_TRUE(buttons.verify.hovered);
}

// Screen positions are taken relative to the window's corner: a message position packs signed
// 16-bit coordinates (a monitor left of or above the primary gives negative ones), and the cursor is
// decided at the window's point.
TEST_F(ScreenInput, ScreenPositionsAreTakenRelativeToTheWindow) {
    const auto at = [](int x, int y, int32_t left, int32_t top) {
        const uint32_t packed = static_cast<uint16_t>(x) | static_cast<uint32_t>(static_cast<uint16_t>(y))
                                                               << 16;
        const WindowPoint point = windowPointOfMessage(packed, left, top);
        return std::pair{point.x, point.y};
    };
    EXPECT_EQ(at(500, 300, 480, 270), std::pair(20, 30));
    EXPECT_EQ(at(-700, 300, -960, 270), std::pair(260, 30));
    EXPECT_EQ(at(100, -50, 0, -540), std::pair(100, 490));
    const auto [tx, ty] = centre(enclosing(layout.rating.tabs[2]));
    EXPECT_EQ(cursorShapeAtScreen(buttons, state, tx - 960, ty + 300, -960, 300), CursorShape::Hand);
    EXPECT_EQ(cursorShapeAtScreen(buttons, state, tx - 960, ty + 300, -960, 0), CursorShape::Arrow);
}

TEST(ButtonHitTest, SlackCountsNearbyXAsTheLeftEdge) {
    ImageButton button;
    placeButton(button, {100, 10, 20, 20}, 50);
    const struct {
        int32_t x, y;
        bool hit;
    } cases[] = {{100, 10, true},        {119, 29, true},       {51, 15, true},   {50, 15, false},
                 {149, 15, true},        {150, 15, false},      {100, 30, false}, {100, 9, false},
                 {INT32_MIN, 15, false}, {INT32_MAX, 15, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        EXPECT_EQ(hitTest(button, c.x, c.y), c.hit);
    }
    placeButton(button, {100, 10, 20, 20}, 0);
    EXPECT_FALSE(hitTest(button, 99, 15));
    EXPECT_FALSE(hitTest(button, 120, 15));
}

}  // namespace
