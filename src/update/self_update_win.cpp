#include "update/self_update_win.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdlib>

#include "app/constants.h"
#include "app/handles_win.h"
#include "app/paths_win.h"
#include "crypto/sha256_win.h"
#include "net/http_client_win.h"
#include "update/file_update_win.h"
#include "update/update_engine.h"

namespace {

constexpr DWORD kHandOverWaitMs = 30000;
std::atomic<uint32_t> handOverWaitMs{kHandOverWaitMs};

// The runtime's normal exit, so that static clean-up runs; the window thread ends with the process.
[[noreturn]] void endProcess() { std::exit(0); }

bool renameFile(const WString& from, const WString& to) { return MoveFileW(from.c_str(), to.c_str()) != 0; }

// Puts the backup back in place of a new executable that did not come up.
bool restoreBackup(const WString& running, const WString& backup) {
    deleteFileQuietly(running);
    return renameFile(backup, running);
}

}  // namespace

void setHandOverWaitForTests(uint32_t milliseconds) { handOverWaitMs.store(milliseconds); }

bool startProcess(const WString& executable, const WString& parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.lpFile = executable.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWDEFAULT;
    return ShellExecuteExW(&info) != FALSE;
}

bool selfUpdate(UpdateEngine& engine, const WString& launcherFolder, const std::string& branchBaseUrl,
                const std::string& launcherChecksum) {
    engine.state.exchange(kStateUpdatingLauncher);
    setStatusText(engine, L"");

    const WString download = launcherFolder + L"/latest_launcher.download";
    const WString backup = launcherFolder + L"/old_launcher.bak";
    const WString running = modulePath();

    // A partial download stays and is overwritten by the next attempt; a wrong one is never run.
    if (!downloadToFile(branchBaseUrl + kLatestLauncherPath, download, &engine.currentDone)) return false;
    if (sha256FileHex(download) != launcherChecksum) {
        deleteFileQuietly(download);
        return false;
    }
    deleteFileQuietly(backup);
    if (!renameFile(running, backup)) {
        deleteFileQuietly(download);
        return false;
    }
    if (!renameFile(download, running)) {
        deleteFileQuietly(download);
        renameFile(backup, running);
        return false;
    }

    // Set by the new launcher once its window exists; a launcher that fails while starting never
    // reports itself healthy.
    UniqueKernelHandle healthy(CreateEventW(nullptr, TRUE, FALSE, kUpdateHealthyEventName));
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = running.c_str();
    info.lpParameters = L"-ignoreinstances -postupdate";
    info.nShow = SW_SHOWDEFAULT;
    const BOOL started = ShellExecuteExW(&info);
    UniqueKernelHandle process(started ? info.hProcess : nullptr);
    if (!process) {
        healthy.reset();
        restoreBackup(running, backup);
        return false;
    }
    if (!healthy) endProcess();

    const HANDLE waitOn[2] = {healthy.get(), process.get()};
    const DWORD result = WaitForMultipleObjects(2, waitOn, FALSE, handOverWaitMs.load());
    healthy.reset();
    process.reset();
    if (result == WAIT_OBJECT_0) {
        deleteFileQuietly(backup);
    } else if (result == WAIT_OBJECT_0 + 1) {
        if (restoreBackup(running, backup)) (void)startProcess(running, L"-ignoreinstances");
    }
    // On a time-out the new launcher keeps running with the backup beside it; it removes the
    // backup itself once it signals.
    endProcess();
}
