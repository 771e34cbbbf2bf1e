#include "update/self_update_win.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/run_log.h"
#include "base/shell_execute_win.h"
#include "net/http_client_win.h"
#include "update/file_update_win.h"
#include "update/hand_over_win.h"
#include "update/object_fetch_win.h"
#include "update/update_engine.h"

namespace {

constexpr DWORD kHandOverWaitMs = 30000;
std::atomic<uint32_t> handOverWaitMs{kHandOverWaitMs};
std::atomic<int> stopForTestsAt{-1};
std::atomic<bool> handOverRunning{false};
// Set when the launcher record could not be written: without it, a launcher that failed would be
// taken again by the restored one, so none is taken in this run.
std::atomic<bool> launcherUpdatesOff{false};

// A process that has just ended may keep its executable busy for a moment before the file can be
// replaced; the rollback tries for this long before it gives up.
constexpr int kRollbackAttempts = 20;
constexpr DWORD kRollbackPauseMs = 100;

constexpr wchar_t kNewLauncherParameters[] = L"-ignoreinstances -postupdate";
constexpr wchar_t kRestoredLauncherParameters[] = L"-ignoreinstances";
// Far above any launcher executable. The published size only feeds the progress display and the
// check of a resumed range (a stale size must not stop an update whose hash is right), but a server
// that never ends its body must not fill the disk before the hash is even checked.
constexpr uint64_t kLauncherDownloadLimitBytes = 64ull * 1024 * 1024;

// The launchers this process has tried to hand over to: none is tried twice in one run, whatever
// the record says (a clock set back, a record another process rewrote). Never destroyed.
struct TriedLaunchers {
    std::mutex lock;
    std::vector<std::string> checksums;
};
TriedLaunchers& triedLaunchers() {
    static TriedLaunchers* const instance = new TriedLaunchers;
    return *instance;
}

// Whether a hand-over to `checksum` was attempted in this run. A download that failed or did not
// verify is no attempt: the next server may deliver it.
bool triedThisRun(const std::string& checksum) {
    TriedLaunchers& tried = triedLaunchers();
    std::lock_guard<std::mutex> guard(tried.lock);
    return std::find(tried.checksums.begin(), tried.checksums.end(), checksum) != tried.checksums.end();
}

void rememberTriedThisRun(const std::string& checksum) {
    TriedLaunchers& tried = triedLaunchers();
    std::lock_guard<std::mutex> guard(tried.lock);
    tried.checksums.push_back(checksum);
}

void reachStep(SelfUpdateStep step) {
    if (stopForTestsAt.load() == static_cast<int>(step))
        TerminateProcess(GetCurrentProcess(), kStoppedForTestsExitCode);
}

// Ends the process at once from the worker thread. The runtime's normal exit would run static
// destructors while the window thread may still be drawing, which can crash at exit; nothing needs
// flushing here (every record file is written beside and renamed into place). The instance mutex
// is released by the process end.
[[noreturn]] void endProcess() { ExitProcess(0); }

bool fileExists(const WString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Whether the record lets this launcher be taken now; says why not in the log.
bool mayTake(const LauncherRecord& record, const std::string& checksum) {
    if (launcherUpdatesOff.load()) {
        logLine("launcher update: not taken, the launcher record cannot be written in this run");
        return false;
    }
    const FailedLauncher* failed = findFailedLauncher(record, checksum);
    switch (judgeLauncher(record, checksum, unixSecondsNow())) {
        case LauncherVerdict::Take:
            break;
        case LauncherVerdict::NotToday:
            logLine(
                "launcher update: not taken, it ended before its window here less than a day ago (attempt " +
                std::to_string(failed->attempts) + " of " + std::to_string(kLauncherMaxAttempts) + ")");
            return false;
        case LauncherVerdict::Never:
            logLine("launcher update: not taken, it ended before its window here " +
                    std::to_string(failed->attempts) + " times");
            return false;
    }
    if (triedThisRun(checksum)) {
        logLine("launcher update: not taken, this launcher was tried once in this run already");
        return false;
    }
    if (failed) {
        logLine("launcher update: trying again a launcher that ended before its window here (attempt " +
                std::to_string(failed->attempts + 1) + " of " + std::to_string(kLauncherMaxAttempts) + ")");
    }
    return true;
}

// The download step: the published launcher into `download`, kept only when its hash is the
// published one. The signed checksum names the object: a transfer that broke off goes on where the
// copy ended, in this run or a later one (its note must name the same checksum, so a part of an
// older release is never taken up); a failed download leaves the part and its note for that.
bool downloadLauncher(UpdateEngine& engine, const std::string& url, const WString& download,
                      const std::string& checksum, uint64_t size) {
    logLine("launcher update: downloading " + url);
    ObjectRequest object;
    object.url = url;
    object.copy = download;
    object.sha256 = checksum;
    object.size = size;
    object.maxBytes = kLauncherDownloadLimitBytes;
    object.what = "launcher update";
    // Only a file whose hash could be computed and equals the published one is ever run; an empty
    // checksum must not match a file that could not be read.
    const ObjectFetchResult fetched = fetchObject(object, &engine.currentDone, nullptr);
    if (fetched.outcome == ObjectFetch::DownloadFailed) {
        logLine("launcher update: download failed, " + describeTransferOutcome(lastTransferOutcome()));
        return false;
    }
    if (fetched.outcome != ObjectFetch::Verified) {
        logLine("launcher update: the download failed verification (SHA-256 " + fetched.hash + ")");
        discardCopy(download);
        return false;
    }
    return true;
}

// Puts the backup back in place of a new executable that did not come up and has ended. The
// backup replaces the new file in one move, so the module path never stays empty when it fails.
bool restoreBackup(const WString& running, const WString& backup) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(backup.c_str(), running.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE) return true;
        if (attempt == kRollbackAttempts) return false;
        Sleep(kRollbackPauseMs);
    }
}

// The signal, or the end of the new process. The first wait is the hand-over's time; past it the
// new launcher is still running and unproven (held in an error box of its own or of the system,
// a slow start, a slow dump, a hang): leaving it alone as the launcher would strand the player if
// it never comes up, rolling it back would undo one that is merely slow. So the wait goes on.
DWORD waitForNewLauncher(HANDLE healthy, HANDLE process) {
    const HANDLE both[2] = {healthy, process};
    const DWORD first = WaitForMultipleObjects(2, both, FALSE, handOverWaitMs.load());
    if (first != WAIT_TIMEOUT && first != WAIT_FAILED) return first;
    logLine("launcher update: no word from the new launcher after " + std::to_string(handOverWaitMs.load()) +
            " ms; waiting on until its window is up or it ends, the backup stays");
    const DWORD result = WaitForMultipleObjects(2, both, FALSE, INFINITE);
    if (result != WAIT_FAILED) return result;
    // Cannot happen with two valid handles; the process alone still tells the end.
    return WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1 : WAIT_FAILED;
}

}  // namespace

void setHandOverWaitForTests(uint32_t milliseconds) { handOverWaitMs.store(milliseconds); }

void setSelfUpdateStopForTests(SelfUpdateStep step) { stopForTestsAt.store(static_cast<int>(step)); }

bool launcherHandOverRunning() { return handOverRunning.load(); }

bool startProcess(const WString& executable, const WString& parameters) {
    // A failed start must not hold the calling thread in a system error box; the process ends right
    // after a start, so the shell must have finished with it when the call returns.
    return shellExecute({executable, parameters, L"", nullptr, SW_SHOWDEFAULT},
                        SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC)
        .started;
}

bool selfUpdate(UpdateEngine& engine, const WString& launcherFolder, const std::string& branchBaseUrl,
                const std::string& launcherChecksum, uint64_t launcherSize) {
    const LauncherRecord before = readLauncherRecord(launcherFolder);
    if (!mayTake(before, launcherChecksum)) return false;
    publishOutcome(engine, kStateUpdatingLauncher, L"");

    const WString download = launcherFolder + L"/latest_launcher.download";
    const WString backup = launcherFolder + kOldLauncherBackupName;
    const WString running = modulePath();
    if (!downloadLauncher(engine, branchBaseUrl + kLatestLauncherPath, download, launcherChecksum,
                          launcherSize))
        return false;
    reachStep(SelfUpdateStep::Downloaded);

    // Counted before anything changes, so that whatever happens from here on (the new launcher
    // fails in any way, either process is killed) leaves the attempt recorded and the hand-over
    // marked unfinished for the next start.
    LauncherRecord record = before;
    countLauncherAttempt(record, launcherChecksum, unixSecondsNow());
    if (!writeLauncherRecord(launcherFolder, record)) {
        launcherUpdatesOff.store(true);
        logLine("launcher update: not taken, the launcher record cannot be written, error " +
                std::to_string(GetLastError()));
        discardCopy(download);
        return false;
    }
    rememberTriedThisRun(launcherChecksum);
    reachStep(SelfUpdateStep::Recorded);

    deleteFileQuietly(backup);
    // The two renames follow each other with nothing between: for that moment no launcher lies at
    // the module path. A running executable can be renamed but not replaced, so it takes two.
    const bool movedAside = MoveFileW(running.c_str(), backup.c_str()) != FALSE;
    const DWORD asideError = GetLastError();
    if (movedAside) reachStep(SelfUpdateStep::RunningMovedAside);
    const bool inPlace = movedAside && MoveFileW(download.c_str(), running.c_str()) != FALSE;
    const DWORD placeError = GetLastError();
    if (!inPlace) {
        if (movedAside) (void)MoveFileW(backup.c_str(), running.c_str());
        discardCopy(download);
        (void)writeLauncherRecord(launcherFolder, before);  // nothing was tried
        logLine(std::string("launcher update: could not ") +
                (movedAside ? "put the new launcher in place" : "rename the running launcher") + ", error " +
                std::to_string(movedAside ? placeError : asideError));
        return false;
    }
    reachStep(SelfUpdateStep::NewInPlace);

    // Set by the new launcher once its window exists; a launcher that fails while starting never
    // reports itself healthy. An event that some other process still holds may carry an old
    // signal, which must not pass for the new launcher's. Without an event no report could come,
    // and the new launcher is not started at all.
    UniqueKernelHandle healthy(CreateEventW(nullptr, TRUE, FALSE, kUpdateHealthyEventName));
    if (healthy) ResetEvent(healthy.get());

    // No error dialog: a published file that cannot be started would otherwise hold the worker in
    // a system message box, possibly hidden behind the launcher's window, instead of rolling back.
    handOverRunning.store(true);
    UniqueKernelHandle process;
    if (healthy) {
        process = shellExecute({running, kNewLauncherParameters, L"", nullptr, SW_SHOWDEFAULT},
                               SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC)
                      .process;
    }
    if (!process) {
        healthy.reset();
        const bool restored = restoreBackup(running, backup);
        record.pending.clear();  // the attempt stays: this launcher cannot be started here
        (void)writeLauncherRecord(launcherFolder, record);
        handOverRunning.store(false);
        logLine(std::string("launcher update: the new launcher did not start; old one restored: ") +
                (restored ? "yes" : "no"));
        return false;
    }
    logLine("launcher update: the new launcher started, waiting for its window");
    reachStep(SelfUpdateStep::NewStarted);

    const DWORD result = waitForNewLauncher(healthy.get(), process.get());
    if (result == WAIT_OBJECT_0) {
        healthy.reset();
        forgetLauncher(record, launcherChecksum);
        (void)writeLauncherRecord(launcherFolder, record);
        logLine("launcher update: the new launcher took over");
        // Still this process's own image: the new launcher removes it once this one has ended.
        deleteFileQuietly(backup);
        endProcess();
    }
    healthy.reset();
    process.reset();
    reachStep(SelfUpdateStep::NewEnded);
    // The new launcher ended before its window came up: the player keeps this one. A new launcher
    // that failed on trial has put the backup back itself.
    const bool restored = fileExists(backup) ? restoreBackup(running, backup) : fileExists(running);
    record.pending.clear();
    (void)writeLauncherRecord(launcherFolder, record);
    deleteFileQuietly(launcherFolder + kFailedLauncherAsideName);
    logLine(std::string("launcher update: the new launcher ended before its window; old one restored: ") +
            (restored ? "yes" : "no"));
    reachStep(SelfUpdateStep::RolledBack);
    if (restored) {
        const bool started = startProcess(running, kRestoredLauncherParameters);
        logLine(std::string("launcher update: the restored launcher ") +
                (started ? "started" : "could not be started"));
    }
    endProcess();
}
