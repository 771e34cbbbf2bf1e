#include "ui/progress.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "base/constants.h"
#include "ui/progress_texts.h"
#include "update/update_engine.h"

namespace {

constexpr double kBytesPerMb = 1048576.0;
constexpr int64_t kBytesPerMbWhole = 1048576;
constexpr double kShownRateAbove = 0.005;

// The last kShownFileNameLength units with "..." in front; a surrogate pair is not split.
WString shownFileName(std::wstring_view name) {
    if (name.size() <= kShownFileNameLength) return WString(name);
    std::wstring_view tail = name.substr(name.size() - kShownFileNameLength);
    if (tail.front() >= 0xDC00 && tail.front() <= 0xDFFF) tail.remove_prefix(1);
    return L"..." + WString(tail);
}

// One decimal, as "%.1f" writes it; the digits are ASCII.
WString oneDecimal(double value) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%.1f", value);
    if (length <= 0) return WString();
    return WString(buffer, buffer + std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1));
}

double fraction(int64_t done, int64_t total) {
    return total < 1 ? 0.0 : static_cast<double>(done) / static_cast<double>(total);
}

}  // namespace

void sampleTransferRate(ProgressTracker& tracker, int64_t nowMs, int64_t currentDone) {
    if (tracker.sampled && nowMs >= tracker.lastSampleMs) {
        const int64_t elapsedMs = nowMs - tracker.lastSampleMs;
        if (elapsedMs <= kRateSampleIntervalMs) return;
        if (currentDone > tracker.lastSampleBytes) {
            const double seconds = static_cast<double>(elapsedMs) / 1000.0;
            tracker.rateMbPerSecond =
                static_cast<double>(currentDone - tracker.lastSampleBytes) / seconds / kBytesPerMb;
            tracker.rateHistory.push_back(tracker.rateMbPerSecond);
            if (tracker.rateHistory.size() > kMaxRateHistory) tracker.rateHistory.pop_front();
        }
    }
    tracker.sampled = true;
    tracker.lastSampleMs = nowMs;
    tracker.lastSampleBytes = currentDone;
}

std::optional<WString> fileProgressLabel(int32_t runState, std::wstring_view currentFile,
                                         double rateMbPerSecond, Language language) {
    WString label;
    switch (runState) {
        case kStateUpdatingLauncher:
            label = localized(kDownloadingFileLabel, language);
            label += kLauncherExeName;
            break;
        case kStateCheckingFiles:
            return localized(kCheckingFileLabel, language) + shownFileName(currentFile);
        case kStateDownloadingFiles:
            label = localized(kUpdatingFileLabel, language) + shownFileName(currentFile);
            break;
        default:
            return std::nullopt;
    }
    if (rateMbPerSecond > kShownRateAbove) {
        label += localized(kRateOpener, language);
        label += oneDecimal(rateMbPerSecond);
        label += localized(kRateCloser, language);
    }
    return label;
}

bool takeTotalCounters(ProgressTracker& tracker, const TransferCounters& counters) {
    if (tracker.shownTotal && *tracker.shownTotal == counters) return false;
    tracker.shownTotal = counters;
    return true;
}

int64_t remainingSeconds(const TransferCounters& counters, const std::deque<double>& rateHistory) {
    // Before the first rate there is nothing to divide by.
    if (rateHistory.empty()) return 0;
    const double averageRate = (0.5 + std::accumulate(rateHistory.begin(), rateHistory.end(), 0.0)) /
                               static_cast<double>(rateHistory.size());
    const int64_t leftMb = counters.bytesTotal / kBytesPerMbWhole - counters.bytesDone / kBytesPerMbWhole;
    const double seconds = static_cast<double>(leftMb) / averageRate;
    // Limited while still a double: converting one beyond the integer's range is undefined.
    if (!(seconds > 0)) return 0;
    if (seconds >= static_cast<double>(kMaxRemainingSeconds)) return kMaxRemainingSeconds;
    return static_cast<int64_t>(seconds);
}

WString totalProgressLabel(const TransferCounters& counters, const std::deque<double>& rateHistory,
                           Language language) {
    const int64_t fileNumber =
        counters.filesDone != counters.filesTotal ? counters.filesDone + 1 : counters.filesDone;
    WString label = localized(kFileCountOpener, language);
    label += std::to_wstring(fileNumber);
    label += localized(kFileCountSeparator, language);
    label += std::to_wstring(counters.filesTotal);
    label += L" · ";
    label += std::to_wstring(counters.bytesDone / kBytesPerMbWhole);
    label += L'/';
    label += std::to_wstring(counters.bytesTotal / kBytesPerMbWhole);
    label += localized(kMegabytesCloser, language);
    const int64_t seconds = remainingSeconds(counters, rateHistory);
    if (seconds > 59) {
        label += localized(kMinutesLeftOpener, language);
        label += std::to_wstring(seconds / 60);
        label += localized(kMinutesLeftCloser, language);
    } else {
        label += localized(kUnderAMinuteText, language);
    }
    return label;
}

int32_t totalBarValue(const TransferCounters& counters) {
    const double value = (fraction(counters.filesDone, counters.filesTotal) +
                          fraction(counters.bytesDone, counters.bytesTotal)) *
                         (kTotalBarMaximum / 2);
    // Limited while still a double: a count far past its total must not overflow the integer.
    return static_cast<int32_t>(std::clamp(value, double{INT32_MIN}, double{INT32_MAX}));
}

WString barPercentText(int32_t value, int32_t maximum) {
    const int64_t percent = maximum <= 0 ? 0 : int64_t{value} * 100 / maximum;
    return std::to_wstring(percent) + L"%";
}

int barFillWidth(int32_t value, int32_t maximum, int barWidth) {
    if (maximum <= 0 || value <= 0 || barWidth <= 4) return 0;
    const double filled = std::min(static_cast<double>(value) / maximum, 1.0) * (barWidth - 4);
    return static_cast<int>(filled);
}
