#include "ui/progress.h"

#include <gtest/gtest.h>

#include "update/update_engine.h"

namespace {

constexpr int64_t MB = 1 << 20;
constexpr int64_t GiB = int64_t{1} << 30;

TEST(Progress, TotalLabelAndBarValue) {
    const Language En = Language::English, Ru = Language::Russian;
    const std::deque<double> none, hundred(100, 0.5), crawling(100, 1e-6);
    struct Case {
        TransferCounters counters;
        std::deque<double> history;
        Language language;
        WString label;
        int32_t barValue;
    };
    const Case cases[] = {
        {{3, 10, 50 * MB, 200 * MB}, none, En, L"File 4 of 10 · 50/200 MB · under a minute", 2750},
        {{3, 10, 51 * MB - 1, 200 * MB}, {1.0}, Ru, L"Файл 4 из 10 · 50/200 МБ · осталось ~1 мин", 2774},
        {{3, 10, 50 * MB, 200 * MB}, hundred, En, L"File 4 of 10 · 50/200 MB · ~4 min left", 2750},
        {{0, 0, 0, 0}, {2.0}, En, L"File 0 of 0 · 0/0 MB · under a minute", 0},
        {{0, 1, 0, 59 * MB}, {0.5}, En, L"File 1 of 1 · 0/59 MB · under a minute", 0},  // 59 s at 1 MB/s
        {{10, 10, 200 * MB, 200 * MB}, {2.0}, Ru, L"Файл 10 из 10 · 200/200 МБ · меньше минуты", 10000},
        {{1, 2, 3 * GiB / 2, 3 * GiB}, {2.0}, En, L"File 2 of 2 · 1536/3072 MB · ~10 min left", 5000},
        {{0, 1, 0, 3 * GiB}, crawling, En, L"File 1 of 1 · 0/3072 MB · ~10237 min left", 0},  // over a week
        {{0, 1, 0, INT64_MAX}, {1e-9}, En, L"File 1 of 1 · 0/8796093022207 MB · ~35791394 min left", 0},
        {{1, 2, 300 * MB, 200 * MB}, {1.0}, En, L"File 2 of 2 · 300/200 MB · under a minute", 10000},
        {{INT32_MAX, 1, 0, 0}, none, En, L"File 2147483648 of 1 · 0/0 MB · under a minute", INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(totalProgressLabel(c.counters, c.history, c.language), c.label);
        EXPECT_EQ(totalBarValue(c.counters), c.barValue);
    }
}

TEST(Progress, RateSamplesEveryHalfSecondKeepTheLastHundred) {
    ProgressTracker tracker;
    sampleTransferRate(tracker, 86400000, 100 * MB);  // the first sample only sets the base
    sampleTransferRate(tracker, 86400500, 101 * MB);  // not more than 500 ms
    EXPECT_TRUE(tracker.rateHistory.empty());
    sampleTransferRate(tracker, 86401000, 101 * MB);
    EXPECT_DOUBLE_EQ(tracker.rateMbPerSecond, 1.0);
    sampleTransferRate(tracker, 86402000, MB / 2);  // the next file: a new base
    sampleTransferRate(tracker, 5000, MB);          // the clock went back: a new base
    EXPECT_EQ(tracker.rateHistory.size(), 1u);
    sampleTransferRate(tracker, 5600, MB + MB / 2);
    EXPECT_NEAR(tracker.rateMbPerSecond, 0.8333, 1e-4);
    for (int i = 1; i <= 150; ++i) sampleTransferRate(tracker, 5600 + 1000 * i, MB + MB / 2 + i * 2 * MB);
    EXPECT_EQ(tracker.rateHistory.size(), kMaxRateHistory);
    EXPECT_DOUBLE_EQ(tracker.rateHistory.front(), 2.0);
}

TEST(Progress, FileLabels) {
    const WString splitPair = WString(10, L'x') + WString{0xD83D, 0xDE00} + WString(24, L'y');
    const WString pairAtCut = WString(5, L'x') + WString{0xD83D, 0xDE00} + WString(23, L'y');
    const std::tuple<int32_t, WString, double, Language, std::optional<WString>> cases[] = {
        {kStateCheckingFiles, L"Globals/a.txt", 3.0, Language::Russian, L"Проверка: Globals/a.txt"},
        {kStateDownloadingFiles, L"Globals/folder/with/a/long/name.txt", 1.26, Language::English,
         L"Updating: ...lder/with/a/long/name.txt · 1.3 MB/s"},
        {kStateDownloadingFiles, L"a", 0.005, Language::Russian, L"Обновление: a"},
        {kStateCheckingFiles, WString(25, L'n'), 0, Language::English, L"Checking: " + WString(25, L'n')},
        {kStateCheckingFiles, pairAtCut, 0, Language::English,
         L"Checking: ..." + WString{0xD83D, 0xDE00} + WString(23, L'y')},
        {kStateDownloadingFiles, splitPair, 0.0051, Language::Russian,
         L"Обновление: ..." + WString(24, L'y') + L" · 0.0 МБ/с"},
        {kStateUpdatingLauncher, L"x", 2.0, Language::English,
         L"Downloading: VarnholdLauncher.exe · 2.0 MB/s"},
        {kStateFinished, L"a", 1.0, Language::English, std::nullopt},
    };
    for (const auto& [state, file, rate, language, label] : cases) {
        SCOPED_TRACE(state);
        EXPECT_EQ(fileProgressLabel(state, file, rate, language), label);
    }
}

TEST(Progress, BarPercentAndFill) {
    const std::tuple<int32_t, int32_t, const wchar_t*, int> cases[] = {
        // value, maximum, percent, fill of a bar 104 pixels wide
        {5, 0, L"0%", 0},
        {1, 3, L"33%", 33},
        {300, 200, L"150%", 100},
        {INT32_MAX, INT32_MAX, L"100%", 100},  // a 2 GiB file
        {1 << 30, INT32_MAX, L"50%", 50},
    };
    for (const auto& [value, maximum, percent, fill] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(barPercentText(value, maximum), percent);
        EXPECT_EQ(barFillWidth(value, maximum, 104), fill);
    }
}

}  // namespace
