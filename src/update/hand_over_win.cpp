#include "update/hand_over_win.h"

#include <windows.h>

#include <atomic>

#include "base/constants.h"
#include "base/crash_handler_win.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/read_file_win.h"
#include "base/replace_file_win.h"
#include "base/run_log.h"
#include "update/self_update_win.h"

namespace {

constexpr wchar_t kRestoredLauncherParameters[] = L"-ignoreinstances";

// The paths of a launcher on trial, made when the trial begins: the crash handler must not
// allocate. Never destroyed.
struct Trial {
    WString running;
    WString backup;
    WString aside;
};
std::atomic<Trial*> trial{nullptr};
std::atomic<bool> armed{false};
std::atomic<bool> rolledBack{false};

bool fileExists(const WString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Renames the executable at `running` aside and moves `backup` into its place, nothing in between:
// for that moment no launcher lies at the module path. When the second move fails the first is
// undone rather than leave nothing there.
bool putBackupInPlace(const wchar_t* running, const wchar_t* backup, const wchar_t* aside) noexcept {
    if (!MoveFileExW(running, aside, MOVEFILE_REPLACE_EXISTING)) return false;
    if (MoveFileExW(backup, running, 0)) return true;
    (void)MoveFileExW(aside, running, 0);
    return false;
}

void crashRescue() noexcept { (void)rollBackLauncherTrial(); }

void clearPending(const WString& folder) {
    LauncherRecord record = readLauncherRecord(folder);
    if (record.pending.empty()) return;
    record.pending.clear();
    (void)writeLauncherRecord(folder, record);
}

}  // namespace

LauncherRecord readLauncherRecord(const WString& launcherFolder) {
    return parseLauncherRecord(readWholeFile(launcherFolder + kLauncherRecordName).value_or(""));
}

bool writeLauncherRecord(const WString& launcherFolder, const LauncherRecord& record) {
    return replaceFileContents(launcherFolder + kLauncherRecordName, formatLauncherRecord(record));
}

int64_t unixSecondsNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<int64_t>(ticks / kTicksPerSecond - kSecondsFrom1601To1970);
}

void beginLauncherTrial(const WString& launcherFolder) {
    if (trial.load()) return;
    try {
        auto* paths = new Trial{modulePath(), launcherFolder + kOldLauncherBackupName,
                                launcherFolder + kFailedLauncherAsideName};
        if (paths->running.empty() || !fileExists(paths->backup)) {
            delete paths;
            return;
        }
        // A launcher that failed on an earlier trial and has ended by now.
        (void)DeleteFileW(paths->aside.c_str());
        trial.store(paths);
        armed.store(true);
        setCrashRescue(crashRescue);
        logLine("after a launcher update: on trial until the window is up, the backup beside it");
    } catch (...) {
        // No memory at start-up: no trial, the old launcher still rolls back when this one ends.
    }
}

bool rollBackLauncherTrial() noexcept {
    const Trial* paths = trial.load();
    if (!paths || !armed.exchange(false)) return false;
    const bool back = putBackupInPlace(paths->running.c_str(), paths->backup.c_str(), paths->aside.c_str());
    rolledBack.store(back);
    return back;
}

void finishFailedTrial(const WString& launcherFolder) {
    if (!rolledBack.load()) return;
    logLine("after a launcher update: this launcher failed before its window; the backup is back");
    clearPending(launcherFolder);
    // The old launcher holds the event while it waits; it starts the restored one when this
    // process has ended.
    UniqueKernelHandle waiting(OpenEventW(SYNCHRONIZE, FALSE, kUpdateHealthyEventName));
    if (waiting) return;
    const bool started = startProcess(trial.load()->running, kRestoredLauncherParameters);
    logLine(std::string("after a launcher update: the restored launcher ") +
            (started ? "started" : "could not be started"));
}

bool passLauncherTrial(const WString& launcherFolder) {
    armed.store(false);
    setCrashRescue(nullptr);
    LauncherRecord record = readLauncherRecord(launcherFolder);
    if (record.pending.empty()) return false;
    forgetLauncher(record, record.pending);
    (void)writeLauncherRecord(launcherFolder, record);
    return true;
}

HandOverRepair repairUnfinishedHandOver(const WString& launcherFolder) {
    const WString aside = launcherFolder + kFailedLauncherAsideName;
    const bool asideLeft = DeleteFileW(aside.c_str()) != FALSE;
    LauncherRecord record = readLauncherRecord(launcherFolder);
    if (record.pending.empty()) return asideLeft ? HandOverRepair::Cleared : HandOverRepair::None;
    const WString backup = launcherFolder + kOldLauncherBackupName;
    const WString running = modulePath();
    const std::string pending = record.pending;
    record.pending.clear();
    if (!fileExists(backup) || running.empty()) {
        (void)writeLauncherRecord(launcherFolder, record);
        logLine("launcher update: an unfinished hand-over left no backup; its mark is cleared");
        return HandOverRepair::Cleared;
    }
    // This executable is the launcher that the hand-over started and that never reported its
    // window: the hand-over's processes ended before it could (killed, a power cut, a kill after
    // the old launcher stopped waiting). Its attempt stays counted.
    if (!putBackupInPlace(running.c_str(), backup.c_str(), aside.c_str())) {
        logLine(
            "launcher update: an unfinished hand-over was found, but the backup could not be put back, "
            "error " +
            std::to_string(GetLastError()));
        return HandOverRepair::None;
    }
    (void)writeLauncherRecord(launcherFolder, record);
    const bool started = startProcess(running, kRestoredLauncherParameters);
    logLine("launcher update: an unfinished hand-over was found; launcher " + pending +
            " never came up, the backup is back in place and " +
            (started ? "started" : "could not be started"));
    return HandOverRepair::Restored;
}
