#pragma once

#include "config/settings.h"

// The rating panel's texts, English and Russian side by side, chosen at paint time.

inline constexpr TextPair kRatingTitleText = {L"Season rating", L"Рейтинг сезона"};
inline constexpr TextPair kRatingFooterText = {L"Full rating and stats — on the website ▸",
                                               L"Полный рейтинг и статистика — на сайте ▸"};

inline constexpr TextPair kDifficultyLabels[] = {
    {L"Easy", L"Легкий"},
    {L"Normal", L"Средний"},
    {L"Hard", L"Трудный"},
    {L"Impossible", L"Невозможно"},
};

// The list area's messages, one per look of the panel.
inline constexpr TextPair kRatingLoadingText = {L"Loading rating...", L"Загрузка рейтинга..."};
inline constexpr TextPair kRatingUnavailableText = {
    L"Rating unavailable.\nCheck your internet connection.",
    L"Рейтинг недоступен.\nПроверьте подключение к интернету."};
inline constexpr TextPair kRatingNoResultsText = {L"No results on this difficulty yet.",
                                                  L"На этой сложности пока нет результатов."};

// Before the wave number of a row.
inline constexpr TextPair kRatingWavePrefix = {L"wave ", L"волна "};
