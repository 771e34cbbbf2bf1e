#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>

#include "base/wstring.h"
#include "config/settings.h"

// The progress display's numbers and labels, as pure functions over the engine's counters, and
// the record of what the tick remembers between frames. Platform-free. The tick calls them while a
// transfer or check runs (no status line): updateTransfer in ui/tick_win.cpp samples the rate,
// builds both labels and sets the bars' values; the painting (ui/paint_win.cpp) draws the bars
// with barFillWidth and barPercentText.
//
// Every product and quotient is taken in 64-bit integers or doubles: byte counts near 2 GiB times
// 100 do not fit 32 bits.

inline constexpr int64_t kRateSampleIntervalMs = 500;
inline constexpr size_t kMaxRateHistory = 100;
// A longer file name shows as "..." and its last 25 characters.
inline constexpr size_t kShownFileNameLength = 25;
inline constexpr int32_t kTotalBarMaximum = 10000;
// The remaining time is capped here before it becomes an integer (about 68 years).
inline constexpr int64_t kMaxRemainingSeconds = INT32_MAX;

// The whole run's counters as one tick reads them.
struct TransferCounters {
    int64_t filesDone = 0;
    int64_t filesTotal = 0;
    int64_t bytesDone = 0;
    int64_t bytesTotal = 0;

    bool operator==(const TransferCounters& other) const {
        return filesDone == other.filesDone && filesTotal == other.filesTotal &&
               bytesDone == other.bytesDone && bytesTotal == other.bytesTotal;
    }
};

// What the tick keeps between frames; window thread only. Assign a fresh record to start over.
struct ProgressTracker {
    bool sampled = false;  // the first sample only sets the base
    int64_t lastSampleMs = 0;
    int64_t lastSampleBytes = 0;
    double rateMbPerSecond = 0;                  // the last measured rate, 1 MB = 2^20 bytes
    std::deque<double> rateHistory;              // the last rates, oldest first, at most kMaxRateHistory
    std::optional<TransferCounters> shownTotal;  // the counters of the total label last built
};

// One rate sample of the current file, taken when its counters have changed. More than 500 ms
// after the last sample, a growth of `currentDone` gives a new rate, which joins the history (the
// oldest entry leaves beyond 100); either way this becomes the last sample. The first sample, and
// one taken when the clock has gone back, only set a new base: no rate is made up from an unknown
// interval.
void sampleTransferRate(ProgressTracker& tracker, int64_t nowMs, int64_t currentDone);

// The file bar's label for a run state: "Downloading: " and the launcher's file name (launcher
// update), "Checking: " or "Updating: " and the current file's name, the last 25 characters of a
// longer one after "..."; in the launcher update and download states " · 1.5 MB/s" follows when the
// rate exceeds 0.005. Nothing in other states: the label stays as it was.
[[nodiscard]] std::optional<WString> fileProgressLabel(int32_t runState, std::wstring_view currentFile,
                                                       double rateMbPerSecond, Language language);

// Whether the counters differ from those of the last total label; remembers them.
[[nodiscard]] bool takeTotalCounters(ProgressTracker& tracker, const TransferCounters& counters);

// Seconds left at the average of the history (plus 0.5 MB/s over the count), 0 while the history
// is empty, never negative, at most kMaxRemainingSeconds.
[[nodiscard]] int64_t remainingSeconds(const TransferCounters& counters,
                                       const std::deque<double>& rateHistory);

// "File 4 of 10 · 50/200 MB · ~3 min left", or " · under a minute" below 60 seconds. The file
// number is the one being worked on (done + 1) until all are done; MB are whole 2^20 bytes.
[[nodiscard]] WString totalProgressLabel(const TransferCounters& counters,
                                         const std::deque<double>& rateHistory, Language language);

// Files fraction plus bytes fraction, times 5000, truncated (each fraction 0 when its total is
// below 1): 10000 when everything is done. Above 10000 when a count passes its total.
[[nodiscard]] int32_t totalBarValue(const TransferCounters& counters);

// "%d%%" of value / maximum × 100, truncated; "0%" when the maximum is 0 or less. Above 100 when
// the value passes the maximum.
[[nodiscard]] WString barPercentText(int32_t value, int32_t maximum);

// Width of a bar's fill inside its 2-pixel frame: value / maximum limited to 0..1, times the bar
// width less 4, truncated.
[[nodiscard]] int barFillWidth(int32_t value, int32_t maximum, int barWidth);
