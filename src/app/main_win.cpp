// Entry point of VarnholdLauncher.exe: the uninstall run, or the one interactive instance with
// its window, including the new side of a self-update hand-over.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <stdexcept>

#include "app/start_log_win.h"
#include "app/uninstall_win.h"
#include "base/constants.h"
#include "base/crash_handler_win.h"
#include "base/handles_win.h"
#include "base/paths_win.h"
#include "base/run_log.h"
#include "base/unique_handle.h"
#include "branches/update_worker_win.h"
#include "ui/frame_loop_win.h"
#include "ui/gdiplus_session_win.h"
#include "ui/launcher_app_win.h"
#include "update/hand_over_win.h"
#include "update/self_update_win.h"

namespace {

// How long a start that takes over from another launcher (self-update, elevated restart) waits
// for the instance mutex before going on without it.
constexpr DWORD kInstanceWaitMs = 5000;
// How long a second start waits for the window of an earlier launcher that holds the instance mutex
// but has none yet (a virus scan, a cold disk, pictures still decoding: common when a shortcut is
// double-clicked) before it calls that launcher stuck.
constexpr ULONGLONG kEarlierWindowWaitMs = 5000;
constexpr DWORD kEarlierWindowPollMs = 50;
// The old launcher's image stays locked for a moment after its process ended.
constexpr int kBackupDeleteAttempts = 20;
constexpr DWORD kBackupDeleteIntervalMs = 100;

struct ProcessState {
    UniqueKernelHandle instanceMutex;
    GdiplusSession gdiplus;
};

// Null when the mutex could not be created at all; `existed` tells whether another process has it.
// A mutex made by an elevated launcher denies a normal one access: that is another launcher too,
// with no handle to it.
UniqueKernelHandle createInstanceMutex(bool& existed) {
    UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    const DWORD error = GetLastError();
    existed = error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED);
    return mutex;
}

void releaseInstanceMutex(ProcessState& state) {
    if (!state.instanceMutex) return;
    ReleaseMutex(state.instanceMutex.get());
    state.instanceMutex.reset();
}

// Every way out of an interactive start passes here: GDI+ shut down, the instance mutex left.
void endProcessState(ProcessState& state) {
    state.gdiplus.end();
    releaseInstanceMutex(state);
}

// The first visible top-level window of the launcher's class, or null. During a self-update two
// launchers have one each, and the new one's stays hidden while its first frame is prepared (longer
// still when it fails): the first window of the class is not always the one on screen.
HWND visibleLauncherWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM result) CALLBACK -> BOOL {
            wchar_t className[64] = {};
            if (!IsWindowVisible(window) || GetClassNameW(window, className, 64) == 0 ||
                std::wcscmp(className, kInstanceMutexName) != 0)
                return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Brings an earlier launcher's window back (also from minimised) and tells whether there was one
// within kEarlierWindowWaitMs. A launcher makes its window hidden and shows it with its first frame:
// a hidden one is waited for, since restoring it would show it before it can paint.
bool activateEarlierInstance() {
    const ULONGLONG deadline = GetTickCount64() + kEarlierWindowWaitMs;
    HWND earlier = nullptr;
    while (!(earlier = visibleLauncherWindow())) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(kEarlierWindowPollMs);
    }
    ShowWindow(earlier, SW_MINIMIZE);
    ShowWindow(earlier, SW_RESTORE);
    SetForegroundWindow(earlier);
    return true;
}

// The new launcher of a self-update reports that its window is up; the old one then exits and
// leaves the instance mutex by abandonment. True when the report was given.
bool reportUpdateHealthy() {
    UniqueKernelHandle healthy(OpenEventW(EVENT_MODIFY_STATE, FALSE, kUpdateHealthyEventName));
    return healthy && SetEvent(healthy.get());
}

// The old launcher's file, kept as the backup until the new one reported itself healthy. While the
// old process still runs, its image cannot be deleted; it ends as soon as it sees the report, so
// the delete is tried once the mutex wait is over, and again for a short while.
void removeOldLauncher() {
    const WString backup = launcherFolder() + kOldLauncherBackupName;
    for (int attempt = 0; attempt < kBackupDeleteAttempts; ++attempt) {
        if (DeleteFileW(backup.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Sleep(kBackupDeleteIntervalMs);
    }
}

void writeErrorLog(const char* message) {
    const UniqueFile log(_wfopen((launcherFolder() + kErrorLogFileName).c_str(), L"w"));
    if (log) std::fputs(message, log.get());
}

enum class RunEnd { Quiet, Normal, WorkerStillRunning };

// This process goes on as the launcher: no other one writes the log or takes part in a hand-over
// now. False when the start must end because an unfinished hand-over was repaired (the restored
// launcher has been started and waits for the mutex).
bool takeOverAsTheLauncher() {
    rotateRunLog();
    return repairUnfinishedHandOver(launcherFolder()) != HandOverRepair::Restored;
}

// The window was closed while the new launcher of a self-update is starting: the hand-over ends the
// process in every outcome, after a rollback where one is due, so the process must not end here.
// The window goes out of sight meanwhile.
[[noreturn]] void leaveTheEndToTheHandOver(const LauncherApp& app) {
    logLine("exit requested during a launcher update; the hand-over ends the process");
    ShowWindow(app.window, SW_HIDE);
    for (;;) Sleep(INFINITE);
}

// The interactive start: the instance rule, the window, the new side of a self-update, the frame
// loop; then the update worker is asked to stop.
RunEnd runInstance(ProcessState& state, HINSTANCE instance, const wchar_t* tail, int showCommand) {
    const bool ignoreInstances = std::wcsstr(tail, L"-ignoreinstances") != nullptr;
    const bool postUpdate = std::wcsstr(tail, L"-postupdate") != nullptr;

    if (!postUpdate) {
        bool existed = false;
        state.instanceMutex = createInstanceMutex(existed);
        if (!state.instanceMutex && (!existed || ignoreInstances)) return RunEnd::Quiet;
        bool owned = !existed;
        if (existed && ignoreInstances) {
            const DWORD waited = WaitForSingleObject(state.instanceMutex.get(), kInstanceWaitMs);
            owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        } else if (existed) {
            state.instanceMutex.reset();
            if (activateEarlierInstance()) {
                logLine("another launcher runs: its window was brought forward");
                return RunEnd::Quiet;
            }
            throw std::runtime_error("Please close any previous instances of this program and try again.");
        }
        if (owned && !takeOverAsTheLauncher()) return RunEnd::Quiet;
    } else {
        // Until its window is up, a failure of this launcher puts the backup back.
        beginLauncherTrial(launcherFolder());
    }

    // Never deleted: detached threads may still use it while the process ends.
    auto* app = new LauncherApp(instance, showCommand);
    logWindowReady(*app);
    // Apartment-threaded COM for the folder browser and the shell calls of the run. Nothing before
    // needs it (the pictures decode without COM), so its start-up no longer delays the window.
    (void)CoInitialize(nullptr);

    if (postUpdate) {
        // The trial is passed before the report: from the report on, the old launcher is gone.
        const bool handedOver = passLauncherTrial(launcherFolder());
        const bool reported = reportUpdateHealthy();
        bool existed = false;
        state.instanceMutex = createInstanceMutex(existed);
        bool owned = state.instanceMutex && !existed;
        if (state.instanceMutex && existed) {
            const DWORD waited = WaitForSingleObject(state.instanceMutex.get(), kInstanceWaitMs);
            owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        }
        if (reported || handedOver) removeOldLauncher();
        if (owned) rotateRunLog();
        logLine(reported ? "after a launcher update: reported to the old launcher"
                         : "after a launcher update: no old launcher waiting");
    }

    runLauncher(*app);
    if (launcherHandOverRunning()) leaveTheEndToTheHandOver(*app);
    // A running check is asked to stop and waited for a bounded time. The rating thread shares only
    // the rating state, which is never freed; it may go on until the process ends.
    return stopUpdateWorker(*app->worker) ? RunEnd::Normal : RunEnd::WorkerStillRunning;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand) {
    const wchar_t* tail = commandLine ? commandLine : L"";
    // The whole tail, exactly: an outside uninstaller's call. Nothing else runs in this mode: no
    // COM, no GDI+, no mutex, no window.
    if (std::wcscmp(tail, L"-uninstall") == 0) {
        runUninstall(launcherFolder());
        return 0;
    }

    // Not in the uninstall run above: it must leave nothing behind in the folder.
    (void)openRunLog(launcherFolder());
    installCrashHandler(launcherFolder());
    logLauncherStart(tail);

    ProcessState state;  // GDI+ starts here

    RunEnd end = RunEnd::Quiet;
    try {
        end = runInstance(state, instance, tail, showCommand);
    } catch (const std::exception& error) {
        // A new launcher on trial puts the backup back first: the player may leave the box open
        // for as long as he likes, and the old launcher may no longer be waiting.
        (void)rollBackLauncherTrial();
        logFatalError(error.what());
        writeErrorLog(error.what());
        MessageBoxA(nullptr, error.what(), "Error!", MB_OK);
        finishFailedTrial(launcherFolder());
        endProcessState(state);
        return 0;
    }
    logLine(end == RunEnd::WorkerStillRunning ? "exit, the update check still running" : "exit");
    endProcessState(state);
    if (end == RunEnd::Quiet) return 0;
    // A check stalled inside a network read would still use the application object and the
    // settings: end at once, without static destructors, rather than wait for its time-out. Every
    // game file is old or new at any moment of a run.
    if (end == RunEnd::WorkerStillRunning) ExitProcess(0);
    // The normal exit: static clean-up runs, the application object is left as it is.
    std::exit(0);
}
