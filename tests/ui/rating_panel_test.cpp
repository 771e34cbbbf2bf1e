#include "ui/rating_panel.h"

#include <gtest/gtest.h>

namespace {

TEST(Rating, PanelLooksAndRowTexts) {
    RatingState state;
    EXPECT_EQ(ratingPanelLook(state, kDefaultDifficulty), RatingPanelLook::Loading);
    state.rows[1].push_back({1, L"a", 2, 0});
    state.loaded = true;
    EXPECT_EQ(ratingPanelLook(state, kDefaultDifficulty), RatingPanelLook::Rows);
    EXPECT_EQ(ratingPanelLook(state, 3), RatingPanelLook::NoResults);
    state.failed = true;
    EXPECT_EQ(ratingPanelLook(state, 3), RatingPanelLook::Unavailable);
    EXPECT_EQ(visibleRatingRows(1000, 20, 12), 10u);
    EXPECT_EQ(visibleRatingRows(3.5 * 29, 29, 12), 3u);

    const std::pair<RatingRow, WString> cases[] = {
        {{-4, L"Иван", 7, 0}, L"-4. Иван|волна 7"},
        {{2, L"a\nb\tc", 1, 3}, L"2. a b c|волна 1 +3"},
        {{4,
          L"a\x2028"
          L"b\x2029"
          L"c",
          1, 0},
         L"4. a b c|волна 1"},
        {{3, WString(31, L'x') + WString{0xD83D, 0xDE00}, 1, -1},
         L"3. " + WString(31, L'x') + L"...|волна 1"},
    };
    for (const auto& [row, expected] : cases) {
        const RatingRowTexts texts = ratingRowTexts(row, Language::Russian);
        EXPECT_EQ(texts.left + L"|" + texts.right, expected);
    }
    EXPECT_EQ(ratingRowTexts({1, L"A", 12, 3}, Language::English).right, L"wave 12 +3");
}

}  // namespace
