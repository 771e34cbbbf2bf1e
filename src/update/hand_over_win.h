#pragma once

#include <cstdint>

#include "base/wstring.h"
#include "update/launcher_record.h"

// The self-update hand-over as the launcher files show it, and the new launcher's side of it.
//
// The old launcher (selfUpdate) records the attempt and marks the new launcher pending before it
// renames anything, keeps its own file as old_launcher.bak and waits until the new one reports its
// window or ends. The new launcher is on trial until its window is up: if it fails before that
// (its fatal "Error!" path, a crash), it puts the backup back itself, since the old one may no
// longer be waiting. A later start that finds a hand-over unfinished (pending, with the backup
// still beside the executable) knows that the executable at the module path never came up, and
// puts the backup back too. So a new launcher that has not come up never stays the only one.

// In the launcher folder.
inline constexpr wchar_t kLauncherRecordName[] = L"/failed_launcher.txt";
// A new launcher that failed on trial, moved aside so that the backup could take its name; deleted
// by the next start (it cannot be deleted while it still runs).
inline constexpr wchar_t kFailedLauncherAsideName[] = L"/latest_launcher.failed";

[[nodiscard]] LauncherRecord readLauncherRecord(const WString& launcherFolder);
// Written whole beside and renamed into place. False when it could not be written.
[[nodiscard]] bool writeLauncherRecord(const WString& launcherFolder, const LauncherRecord& record);

// Seconds since 1970, UTC.
[[nodiscard]] int64_t unixSecondsNow();

// The new side, started with -postupdate: on trial when the backup lies beside this executable.
// Also makes a crash put the backup back (before the dump). Main thread, at start-up.
void beginLauncherTrial(const WString& launcherFolder);

// The fatal path of a launcher on trial, before its "Error!" box: puts the backup back in place of
// this executable (renamed aside first: a running executable can be renamed, not replaced). True
// when the backup is back. Nothing when not on trial. No heap and no lock: the crash handler calls it.
bool rollBackLauncherTrial() noexcept;

// After the "Error!" box of a launcher whose trial was rolled back: no hand-over is pending any
// more, and, when no old launcher waits to do it (it would start the restored one as this process
// ends), the restored launcher is started with "-ignoreinstances".
void finishFailedTrial(const WString& launcherFolder);

// The window is up: the trial ends, the launcher's record line and the pending mark go. True when
// the record had this hand-over pending (its backup is then no longer needed, also when no old
// launcher waited for the report).
bool passLauncherTrial(const WString& launcherFolder);

enum class HandOverRepair {
    None,      // nothing unfinished
    Cleared,   // stale traces of a hand-over removed
    Restored,  // the backup was put back and started: this process ends now
};

// At a start that owns the instance mutex (no other launcher runs) and is not the new side of a
// hand-over: an unfinished hand-over whose backup still lies beside the executable means that this
// executable never came up; the backup is put back and started with "-ignoreinstances". Stale
// traces (pending without a backup, a failed launcher moved aside) are removed.
[[nodiscard]] HandOverRepair repairUnfinishedHandOver(const WString& launcherFolder);
