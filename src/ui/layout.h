#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "config/branch_table.h"
#include "ui/geometry.h"

// The screen layout, computed once from the window size: every button, text area and panel of the
// main screen, the gear panel and the in-window question. The proportions follow the window
// height, so the screen looks the same at every size from 480 pixels up.
//
// Choices of this layout (pinned by the layout tests at 480 to 1440 pixels):
// - The title and the branch's release version sit at the left of the top strip; the two main link
//   buttons and the launcher version at its right, before the four top-bar squares. A link button
//   is as high as 0.76 of the strip; its document picture is scaled to that height.
// - News cards fill the height between the strip and the bottom band in three equal cards, q apart;
//   each card is the panel frame picture at that height, so its width follows the picture.
// - The rating panel keeps a margin m = 0.5 l inside its frame; the results list lies between the
//   tabs and the footer link with half a margin above and below it. The ornamental divider closes
//   the title row at its right.
// - The gear panel holds five rows of one strip height each: verify, the two folders, the two
//   client links.
// - A play button's texts keep inside its frame and clear of the ornaments at the middle of its top
//   and bottom edges: the branch's name from 0.13 to 0.35 of the button's height, the play label
//   down to 0.6, the status caption down to 0.87 (room for two lines at 0.66 of the base size).
// - The question's box spans the window between the try-again buttons' left edge and its mirror
//   on the right, from q under the strip down to q above the upper answer. The continue-anyway
//   arrow stands at the right end of the try-again row, its caption to its left inside the slack,
//   a tenth of the strip higher and lower than the row: room for two lines at 0.66 of the base size.

struct RatingPanelLayout {
    IntRect panel;
    FloatRect title;  // the title is drawn inset by `margin` on the left and right
    std::array<FloatRect, 4> tabs;
    FloatRect list;
    FloatRect footer;  // the rating link
    FloatRect divider;
    float margin = 0;
    float unit = 0;  // line unit: a row of the list is 1.45 units high
};

// The texts on a play button.
struct PlayTexts {
    IntRect name;
    IntRect label;
    IntRect caption;
};

struct ScreenLayout {
    int32_t width = 0;
    int32_t height = 0;
    float textUnit = 0;    // l = 0.03 h
    int32_t fontBase = 0;  // pixel size of the base font: l points at 96 dpi
    int32_t strip = 0;     // s: the top strip's height, also the drag area
    float topBarMargin = 0;

    IntRect topStrip;
    IntRect closeButton;
    IntRect gearButton;
    IntRect minimiseButton;
    IntRect languageButton;
    IntRect versionArea;
    std::array<IntRect, 2> mainLinks;
    IntRect titleArea;

    int32_t bandTop = 0;     // h - B: the bottom band's top edge
    int32_t bandMargin = 0;  // q = B / 10
    std::array<IntRect, kBranchCount> play;
    std::array<PlayTexts, kBranchCount> playTexts;
    IntRect progressArea;  // also where the status line is written
    IntRect fileLabel;
    IntRect fileBar;
    IntRect totalLabel;
    IntRect totalBar;

    IntRect contentArea;  // the full width below the top strip
    std::array<IntRect, 3> news;
    RatingPanelLayout rating;

    std::vector<FloatPoint> gearOutline;
    IntRect gearArea;  // the outline's pixels with its pen
    IntRect verifyButton;
    std::array<IntRect, kBranchCount> folderButtons;
    std::array<IntRect, 2> gearLinks;

    IntRect questionBox;
    IntRect continueAnyway;
    int32_t continueSlack = 0;
    IntRect continueCaption;
    IntRect tryAgain;
    IntRect tryAgainAdmin;
};

// `playSize` is the scaled size of the play picture (the play buttons take it as theirs).
[[nodiscard]] ScreenLayout computeLayout(int32_t width, int32_t height, PixelSize playSize);

// The progress area with what the bars' glowing heads reach past it (a quarter of a bar's height).
[[nodiscard]] IntRect progressRegion(const ScreenLayout& layout);

// The font base size of a window `height` pixels high.
[[nodiscard]] int32_t fontBaseSize(int32_t height);
