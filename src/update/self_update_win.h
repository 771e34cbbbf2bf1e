#pragma once

#include <cstdint>
#include <string>

#include "base/wstring.h"

struct UpdateEngine;

// Replaces the running launcher with the published one and hands over to it. The old executable
// stays as "old_launcher.bak" until the new process reports that its window is up; a new launcher
// that ends first is replaced by the backup, which is started again. Returns false when the
// update did not happen (nothing changed, the caller goes on with the game files); when it
// happens the process ends here with exit code 0 through ExitProcess, without static clean-up.
//
// Every launcher that ends before its window came up is kept in the launcher record
// (update/launcher_record.h) and taken again at most once a day and a few times in all, never
// twice in one run. The attempt is recorded before anything is renamed; when the record cannot be
// written, no launcher update is taken for the rest of this run. The wait for the new launcher
// has no end while it runs: after the first 30 s the old launcher goes on waiting for the report
// or the end, so that a new launcher held in an error box, a slow dump or a hang still ends in a
// rollback, and one that comes up late is kept.
//
// The download resumes (update/object_fetch_win.h) with the checksum as the object's name and
// `launcherSize` (the descriptor's, 0 when not known) as its size: a part that an earlier attempt
// or run left of the same launcher is taken up, a part of any other is not.
[[nodiscard]] bool selfUpdate(UpdateEngine& engine, const WString& launcherFolder,
                              const std::string& branchBaseUrl, const std::string& launcherChecksum,
                              uint64_t launcherSize);

// Starts a program with ShellExecuteExW (default verb, no owner, SW_SHOWDEFAULT) without keeping
// a process handle and without the system's error dialog: the caller reports a failed start.
[[nodiscard]] bool startProcess(const WString& executable, const WString& parameters);

// True from the start of the new launcher until this process ends: the window thread must not end
// the process then (the hand-over ends it in every outcome, after a rollback where one is due).
[[nodiscard]] bool launcherHandOverRunning();

// Tests only: how long the old launcher waits for the new one before it says so in the log and
// waits on (30 s in the product).
void setHandOverWaitForTests(uint32_t milliseconds);

// The boundaries between the steps of a self-update, in order.
enum class SelfUpdateStep {
    Downloaded,         // verified, nothing recorded or renamed yet
    Recorded,           // attempt and pending mark written
    RunningMovedAside,  // between the two renames: no launcher at the module path
    NewInPlace,         // the new launcher at the module path, not started
    NewStarted,         // the new launcher runs, the wait begins
    NewEnded,           // the new launcher ended without its report, nothing rolled back yet
    RolledBack,         // the backup is back, the restored launcher not yet started
};

// Tests only: a test seam that ends the process at once (TerminateProcess, exit code
// kStoppedForTestsExitCode), as a kill would, when the self-update reaches `step`.
inline constexpr uint32_t kStoppedForTestsExitCode = 9;
void setSelfUpdateStopForTests(SelfUpdateStep step);
