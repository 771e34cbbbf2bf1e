#include "update/self_update_win.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/read_file_win.h"
#include "base/replace_file_win.h"
#include "base/run_log.h"
#include "base/shell_execute_win.h"
#include "crypto/sha256_win.h"
#include "net/http_client_win.h"
#include "update/file_update_win.h"
#include "update/update_engine.h"

namespace {

constexpr DWORD kHandOverWaitMs = 30000;
std::atomic<uint32_t> handOverWaitMs{kHandOverWaitMs};

// A process that has just ended may keep its executable busy for a moment before the file can be
// replaced; the rollback tries for this long before it gives up.
constexpr int kRollbackAttempts = 20;
constexpr DWORD kRollbackPauseMs = 100;

constexpr wchar_t kNewLauncherParameters[] = L"-ignoreinstances -postupdate";
constexpr wchar_t kRestoredLauncherParameters[] = L"-ignoreinstances";
constexpr size_t kHashTextLength = 64;
// Far above any launcher executable. The published size only feeds the progress display (a stale
// size must not stop an update whose hash is right), but a server that never ends its body must
// not fill the disk before the hash is even checked.
constexpr uint64_t kLauncherDownloadLimitBytes = 64ull * 1024 * 1024;

// The checksum of a published launcher that ended before its window came up, kept beside the
// executable. The restored launcher's first check finds the same release; without this record it
// would take it again, and every launcher would start the broken one anew for as long as that
// release stays published (a bad build, a missing DLL, an antivirus block). A release with another
// checksum, the team's fixed build, is taken as usual.
constexpr wchar_t kFailedLauncherName[] = L"/failed_launcher.txt";

bool failedBefore(const WString& launcherFolder, const std::string& checksum) {
    return readWholeFile(launcherFolder + kFailedLauncherName) == checksum;
}

// Ends the process at once from the worker thread. The runtime's normal exit would run static
// destructors while the window thread may still be drawing, which can crash at exit; nothing needs
// flushing here (every record file is written beside and renamed into place). The instance mutex
// is released by the process end.
[[noreturn]] void endProcess() { ExitProcess(0); }

bool renameFile(const WString& from, const WString& to) {
    return MoveFileW(from.c_str(), to.c_str()) != FALSE;
}

// Puts the backup back in place of a new executable that did not come up. The backup replaces the
// new file in one move, so the module path never stays empty when the move fails.
bool restoreBackup(const WString& running, const WString& backup) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(backup.c_str(), running.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE) return true;
        if (attempt == kRollbackAttempts) return false;
        Sleep(kRollbackPauseMs);
    }
}

}  // namespace

void setHandOverWaitForTests(uint32_t milliseconds) { handOverWaitMs.store(milliseconds); }

bool startProcess(const WString& executable, const WString& parameters) {
    // A failed start must not hold the calling thread in a system error box; the process ends right
    // after a start, so the shell must have finished with it when the call returns.
    return shellExecute({executable, parameters, L"", nullptr, SW_SHOWDEFAULT},
                        SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC)
        .started;
}

bool selfUpdate(UpdateEngine& engine, const WString& launcherFolder, const std::string& branchBaseUrl,
                const std::string& launcherChecksum) {
    if (failedBefore(launcherFolder, launcherChecksum)) {
        logLine("launcher update: not taken, this launcher ended before its window once already");
        return false;
    }
    publishOutcome(engine, kStateUpdatingLauncher, L"");

    const WString download = launcherFolder + L"/latest_launcher.download";
    const WString backup = launcherFolder + kOldLauncherBackupName;
    const WString running = modulePath();

    // A partial download stays and is overwritten by the next attempt.
    logLine("launcher update: downloading " + branchBaseUrl + kLatestLauncherPath);
    if (!downloadToFile(branchBaseUrl + kLatestLauncherPath, download, &engine.currentDone, nullptr, nullptr,
                        kLauncherDownloadLimitBytes)) {
        logLine("launcher update: download failed, " + describeTransferOutcome(lastTransferOutcome()));
        return false;
    }
    // Only a file whose hash could be computed and equals the published one is ever run; an empty
    // checksum must not match a file that could not be read.
    const std::string hash = sha256FileHex(download);
    if (hash.size() != kHashTextLength || hash != launcherChecksum) {
        logLine("launcher update: the download failed verification (SHA-256 " + hash + ")");
        deleteFileQuietly(download);
        return false;
    }
    deleteFileQuietly(backup);
    if (!renameFile(running, backup)) {
        logLine("launcher update: could not rename the running launcher, error " +
                std::to_string(GetLastError()));
        deleteFileQuietly(download);
        return false;
    }
    if (!renameFile(download, running)) {
        logLine("launcher update: could not put the new launcher in place, error " +
                std::to_string(GetLastError()));
        deleteFileQuietly(download);
        (void)renameFile(backup, running);
        return false;
    }

    // Set by the new launcher once its window exists; a launcher that fails while starting never
    // reports itself healthy. An event that some other process still holds may carry an old
    // signal, which must not pass for the new launcher's.
    UniqueKernelHandle healthy(CreateEventW(nullptr, TRUE, FALSE, kUpdateHealthyEventName));
    if (healthy) ResetEvent(healthy.get());

    // No error dialog: a published file that cannot be started would otherwise hold the worker in
    // a system message box, possibly hidden behind the launcher's window, instead of rolling back.
    UniqueKernelHandle process =
        shellExecute({running, kNewLauncherParameters, L"", nullptr, SW_SHOWDEFAULT},
                     SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC)
            .process;
    if (!process) {
        healthy.reset();
        const bool restored = restoreBackup(running, backup);
        logLine(std::string("launcher update: the new launcher did not start; old one restored: ") +
                (restored ? "yes" : "no"));
        return false;
    }
    logLine("launcher update: the new launcher started, waiting for its window");
    if (!healthy) endProcess();

    const HANDLE waitOn[2] = {healthy.get(), process.get()};
    const DWORD result = WaitForMultipleObjects(2, waitOn, FALSE, handOverWaitMs.load());
    healthy.reset();
    process.reset();
    if (result == WAIT_OBJECT_0) {
        logLine("launcher update: the new launcher took over");
        deleteFileQuietly(backup);
    } else if (result == WAIT_OBJECT_0 + 1) {
        // The new launcher ended before its window came up: the user keeps the old one, which must
        // not take this release again.
        (void)replaceFileContents(launcherFolder + kFailedLauncherName, launcherChecksum);
        const bool restored = restoreBackup(running, backup);
        logLine(std::string("launcher update: the new launcher ended before its window; old one restored: ") +
                (restored ? "yes" : "no"));
        if (restored) (void)startProcess(running, kRestoredLauncherParameters);
    } else {
        logLine(
            "launcher update: no word from the new launcher in time; it goes on with the backup beside it");
    }
    // On a time-out the new launcher keeps running with the backup beside it; it removes the
    // backup itself once it signals.
    endProcess();
}
