#include "ui/rating_panel.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "ui/rating_texts.h"

namespace {

bool isLineBreaking(wchar_t c) { return c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029; }

}  // namespace

RatingPanelLook ratingPanelLook(const RatingState& state, int selectedDifficulty) {
    if (!state.loaded.load()) return RatingPanelLook::Loading;
    if (state.failed.load()) return RatingPanelLook::Unavailable;
    const int selected = std::clamp(selectedDifficulty, 0, kDifficultyCount - 1);
    return state.rows[selected].empty() ? RatingPanelLook::NoResults : RatingPanelLook::Rows;
}

WString ratingPanelMessage(RatingPanelLook look, Language language) {
    switch (look) {
        case RatingPanelLook::Loading:
            return localized(kRatingLoadingText, language);
        case RatingPanelLook::Unavailable:
            return localized(kRatingUnavailableText, language);
        case RatingPanelLook::NoResults:
            return localized(kRatingNoResultsText, language);
        case RatingPanelLook::Rows:
            break;
    }
    return WString();
}

size_t visibleRatingRows(double listHeight, double rowHeight, size_t rowCount) {
    const size_t limit = std::min(rowCount, kMaxRatingRows);
    if (!(rowHeight > 0) || !(listHeight > 0)) return 0;
    const double fitting = std::floor(listHeight / rowHeight);
    return fitting >= static_cast<double>(limit) ? limit : static_cast<size_t>(fitting);
}

RatingRowTexts ratingRowTexts(const RatingRow& row, Language language) {
    WString nick = row.nick;
    if (nick.size() > kMaxShownNickLength) {
        cutKeepingPairs(nick, kMaxShownNickLength);
        nick += L"...";
    }
    std::replace_if(nick.begin(), nick.end(), isLineBreaking, L' ');
    RatingRowTexts texts;
    texts.left = std::to_wstring(row.rank) + L". " + nick;
    texts.right = localized(kRatingWavePrefix, language) + std::to_wstring(row.wave);
    if (row.endless > 0) texts.right += L" +" + std::to_wstring(row.endless);
    return texts;
}

const wchar_t* difficultyLabel(int difficulty, Language language) {
    if (difficulty < 0 || difficulty >= kDifficultyCount) return L"";
    return localized(kDifficultyLabels[difficulty], language);
}
