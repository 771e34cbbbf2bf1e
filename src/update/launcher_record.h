#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The record of published launchers that did not come up on this computer (failed_launcher.txt
// beside the executable), and of the one on trial while a hand-over is unfinished. A bad release
// reaches every player at once; without the record the restored launcher's next check would take
// the same release again, and two failing releases (one per branch, or the primary's and the
// fallback's) would take turns for ever. A failure may also be passing (a virus scan that killed
// the first start, a player who closed it), and a rebuilt fix of the same source has the same
// checksum: so a recorded launcher is tried again, at most once a day and a few times in all.
//
// The text, one entry a line (anything else is ignored, an old record's single bare checksum
// reads as one attempt at an unknown time):
//   failed <checksum> <attempts> <unix seconds of the last attempt>
//   pending <checksum>

struct FailedLauncher {
    std::string checksum;  // as written; compared exactly
    int32_t attempts = 1;
    int64_t lastAttemptSeconds = 0;  // seconds since 1970, UTC; 0: unknown
};

struct LauncherRecord {
    std::vector<FailedLauncher> failed;
    // The launcher that the last hand-over started and that has not yet reported its window;
    // empty when no hand-over is unfinished.
    std::string pending;
};

// A recorded launcher is taken again only this long after its last attempt.
inline constexpr int64_t kLauncherRetrySeconds = 24 * 60 * 60;
// After this many attempts it is never taken again.
inline constexpr int32_t kLauncherMaxAttempts = 3;

[[nodiscard]] LauncherRecord parseLauncherRecord(std::string_view text);
[[nodiscard]] std::string formatLauncherRecord(const LauncherRecord& record);

enum class LauncherVerdict {
    Take,
    NotToday,  // failed here less than a day ago
    Never,     // failed here kLauncherMaxAttempts times
};

// What to do with a published launcher. A time in the record more than a day ahead of `now`
// (the clock was set back) does not hold it back.
[[nodiscard]] LauncherVerdict judgeLauncher(const LauncherRecord& record, std::string_view checksum,
                                            int64_t nowSeconds);

// The record before a hand-over to `checksum`: one more attempt, now, and the launcher pending.
void countLauncherAttempt(LauncherRecord& record, std::string_view checksum, int64_t nowSeconds);

// The launcher came up: its entry goes and no hand-over is pending.
void forgetLauncher(LauncherRecord& record, std::string_view checksum);

// The attempt of a named launcher in the record, for the log; null when it has none.
[[nodiscard]] const FailedLauncher* findFailedLauncher(const LauncherRecord& record,
                                                       std::string_view checksum);
