#include "ui/progress.h"

#include <gtest/gtest.h>

#include "update/update_engine.h"

namespace {

constexpr int64_t MB = 1 << 20;
constexpr int64_t GiB = int64_t{1} << 30;

TEST(Progress, TotalLabelAndBarValue) {
    struct Case {
        const char* name;
        TransferCounters counters;
        std::deque<double> history;
        Language language;
        WString label;
        int32_t barValue;
    };
    const Case cases[] = {
        {"no samples yet",
         {3, 10, 50 * MB, 200 * MB},
         {},
         Language::English,
         L"File 4 of 10 · 50/200 MB · under a minute",
         2750},
        {"one sample",
         {3, 10, 50 * MB + MB - 1, 200 * MB},
         {1.0},
         Language::English,
         L"File 4 of 10 · 50/200 MB · ~1 min left",
         2774},
        {"one sample, Russian",
         {3, 10, 50 * MB, 200 * MB},
         {1.0},
         Language::Russian,
         L"Файл 4 из 10 · 50/200 МБ · осталось ~1 мин",
         2750},
        {"100 samples",
         {3, 10, 50 * MB, 200 * MB},
         std::deque<double>(100, 0.5),
         Language::English,
         L"File 4 of 10 · 50/200 MB · ~4 min left",
         2750},
        {"nothing to do",
         {0, 0, 0, 0},
         {2.0},
         Language::English,
         L"File 0 of 0 · 0/0 MB · under a minute",
         0},
        {"all done",
         {10, 10, 200 * MB, 200 * MB},
         {2.0},
         Language::Russian,
         L"Файл 10 из 10 · 200/200 МБ · меньше минуты",
         10000},
        {"3 GiB",
         {1, 2, 3 * GiB / 2, 3 * GiB},
         {2.0},
         Language::English,
         L"File 2 of 2 · 1536/3072 MB · ~10 min left",
         5000},
        {"more than a day",
         {0, 1, 0, 3 * GiB},
         std::deque<double>(100, 1e-6),
         Language::English,
         L"File 1 of 1 · 0/3072 MB · ~10237 min left",
         0},
        {"remaining time capped",
         {0, 1, 0, INT64_MAX},
         {1e-9},
         Language::English,
         L"File 1 of 1 · 0/8796093022207 MB · ~35791394 min left",
         0},
        {"bytes past their total",
         {1, 2, 300 * MB, 200 * MB},
         {1.0},
         Language::English,
         L"File 2 of 2 · 300/200 MB · under a minute",
         10000},
        {"2 GiB of 32-bit counters",
         {1, 1, INT32_MAX, INT32_MAX},
         {1.0},
         Language::English,
         L"File 1 of 1 · 2047/2047 MB · under a minute",
         10000},
        {"count far past its total",
         {INT32_MAX, 1, 0, 0},
         {},
         Language::English,
         L"File 2147483648 of 1 · 0/0 MB · under a minute",
         INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(totalProgressLabel(c.counters, c.history, c.language), c.label);
        EXPECT_EQ(totalBarValue(c.counters), c.barValue);
    }
}

TEST(Progress, RateSamplesEveryHalfSecondKeepTheLastHundred) {
    ProgressTracker tracker;
    sampleTransferRate(tracker, 86400000, 100 * MB);  // first sample: only the base
    EXPECT_TRUE(tracker.rateHistory.empty());
    sampleTransferRate(tracker, 86400500, 101 * MB);  // not more than 500 ms
    EXPECT_TRUE(tracker.rateHistory.empty());
    sampleTransferRate(tracker, 86401000, 101 * MB);
    EXPECT_DOUBLE_EQ(tracker.rateMbPerSecond, 1.0);
    sampleTransferRate(tracker, 86402000, MB / 2);  // the next file: a new base, no rate
    EXPECT_EQ(tracker.rateHistory.size(), 1u);
    sampleTransferRate(tracker, 5000, MB);  // the clock went back: a new base, no rate
    EXPECT_EQ(tracker.rateHistory.size(), 1u);
    EXPECT_EQ(tracker.lastSampleMs, 5000);
    sampleTransferRate(tracker, 5600, MB + MB / 2);
    EXPECT_NEAR(tracker.rateMbPerSecond, 0.8333, 1e-4);
    for (int i = 1; i <= 150; ++i) sampleTransferRate(tracker, 5600 + 1000 * i, MB + MB / 2 + i * MB);
    ASSERT_EQ(tracker.rateHistory.size(), kMaxRateHistory);
    EXPECT_DOUBLE_EQ(tracker.rateHistory.back(), 1.0);

    EXPECT_TRUE(takeTotalCounters(tracker, {1, 2, 3, 4}));
    EXPECT_FALSE(takeTotalCounters(tracker, {1, 2, 3, 4}));
    EXPECT_TRUE(takeTotalCounters(tracker, {1, 2, 4, 4}));
}

TEST(Progress, FileLabels) {
    const WString longName = L"Globals/folder/with/a/long/name.txt";  // 35 characters
    const WString splitPair = WString(10, L'x') + WString{0xD83D, 0xDE00} + WString(24, L'y');
    struct Case {
        int32_t state;
        WString file;
        double rate;
        Language language;
        std::optional<WString> label;
    };
    const Case cases[] = {
        {kStateCheckingFiles, L"Globals/a.txt", 3.0, Language::English, L"Checking: Globals/a.txt"},
        {kStateCheckingFiles, L"Globals/a.txt", 3.0, Language::Russian, L"Проверка: Globals/a.txt"},
        {kStateDownloadingFiles, longName, 1.26, Language::English,
         L"Updating: ...lder/with/a/long/name.txt · 1.3 MB/s"},
        {kStateDownloadingFiles, L"a", 0.005, Language::Russian, L"Обновление: a"},
        {kStateDownloadingFiles, L"a", 0.0051, Language::Russian, L"Обновление: a · 0.0 МБ/с"},
        {kStateDownloadingFiles, splitPair, 0, Language::English, L"Updating: ..." + WString(24, L'y')},
        {kStateUpdatingLauncher, L"x", 2.0, Language::English,
         L"Downloading: VarnholdLauncher.exe · 2.0 MB/s"},
        {kStateUpdatingLauncher, L"x", 0, Language::Russian, L"Скачивание: VarnholdLauncher.exe"},
        {kStateDownloadingPatchInfo, L"a", 1.0, Language::English, std::nullopt},
        {kStateFinished, L"a", 1.0, Language::English, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        EXPECT_EQ(fileProgressLabel(c.state, c.file, c.rate, c.language), c.label);
    }
}

TEST(Progress, BarPercentAndFill) {
    struct Case {
        int32_t value;
        int32_t maximum;
        const wchar_t* percent;
        int fill;  // of a bar 104 pixels wide
    };
    const Case cases[] = {
        {0, 0, L"0%", 0},
        {5, 0, L"0%", 0},
        {50, 200, L"25%", 25},
        {1, 3, L"33%", 33},
        {300, 200, L"150%", 100},
        {INT32_MAX, INT32_MAX, L"100%", 100},  // a 2 GiB file
        {INT32_MAX / 2, INT32_MAX, L"49%", 49},
        {1 << 30, INT32_MAX, L"50%", 50},
        {-5, 10, L"-50%", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(barPercentText(c.value, c.maximum), c.percent);
        EXPECT_EQ(barFillWidth(c.value, c.maximum, 104), c.fill);
    }
}

}  // namespace
