#pragma once

#include <cstddef>

#include "base/wstring.h"
#include "config/settings.h"
#include "content/rating.h"

// What the rating panel shows of the rating state: its look, its messages, the rows that fit and
// their texts. Platform-free; the painting (ui/paint_panels_win.cpp) draws them.

// Normal, the tab selected at start; the window's input state keeps the selected tab (not saved).
inline constexpr int kDefaultDifficulty = 1;

enum class RatingPanelLook { Loading, Unavailable, NoResults, Rows };

// Loading until the thread is done, Unavailable when every request failed, NoResults when the
// selected difficulty's list is empty, else Rows. Reads the flags as the window thread must.
[[nodiscard]] RatingPanelLook ratingPanelLook(const RatingState& state, int selectedDifficulty);
// The centred message of a look other than Rows (empty for Rows).
[[nodiscard]] WString ratingPanelMessage(RatingPanelLook look, Language language);

// How many rows fit a list area: its height divided by the row height, truncated, at most
// kMaxRatingRows and at most `rowCount`.
[[nodiscard]] size_t visibleRatingRows(double listHeight, double rowHeight, size_t rowCount);

// The two texts of a row: left "rank. nick", right "wave N" with " +E" when endless is positive.
struct RatingRowTexts {
    WString left;
    WString right;
};
// A nick longer than kMaxShownNickLength units is cut with "..." so that it cannot run into the
// wave text, and control characters in it show as blanks so that a row stays one line.
[[nodiscard]] RatingRowTexts ratingRowTexts(const RatingRow& row, Language language);
inline constexpr size_t kMaxShownNickLength = 32;

// "Easy", "Normal", "Hard", "Impossible" (empty for an index outside 0 to 3).
[[nodiscard]] const wchar_t* difficultyLabel(int difficulty, Language language);
