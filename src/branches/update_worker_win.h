#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "base/wstring.h"
#include "branches/branch_status.h"
#include "branches/branch_ui.h"
#include "branches/classify_win.h"
#include "config/branch_table.h"
#include "update/update_engine.h"

// The update check: one background thread at a time classifies both branch folders and updates
// every branch that passes, one after the other. The window thread starts checks, polls the
// results at its tick and takes them over when a check has ended; the worker never calls the
// window. Numbers, flags and statuses are atomics; the engine's texts are behind its lock.
//
// The window holds one UpdateWorker for the life of the process and calls:
//   startUpdateCheck      at start-up, from the verify-files button, after a folder was saved;
//   requestRerun          for the try-again answer of a run's question;
//   startPendingRerun     early in every tick;
//   takeFinishedResults   in every tick without an open question;
//   chooseBranchFolder    (folder_choice_win.h) and launchBranch (game_launch_win.h);
//   stopUpdateWorker      once, when the frame loop has ended.
// All of them on the window thread.

using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

struct UpdateWorker {
    UpdateWorker();
    // Asks a running check to stop and waits for it: a worker still running would use this record.
    ~UpdateWorker();
    UpdateWorker(const UpdateWorker&) = delete;
    UpdateWorker& operator=(const UpdateWorker&) = delete;

    UpdateEngine engine;
    BranchResultsTable results;  // one per branch, in table order

    std::atomic<bool> workerRunning{false};  // from the start of a check to the worker's last action
    bool rerunPending = false;               // window thread only
    bool rerunVerify = false;                // window thread only: the full check of the pending re-run
    bool checkVerify = false;                // the full-check request of the check last started
    std::atomic<int32_t> activeBranch{-1};   // the branch whose update run is in progress, or -1
    std::atomic<bool> resultsReady{false};   // a check has ended and the window has not taken it over
    std::thread thread;

    BranchUi ui;  // set by the window before the first check

    // Where launcher.ini is saved by the folder choice, and where the browser opens when no branch
    // has a folder; empty means the launcher's own folder.
    WString launcherFolder;

    // Seams. `runBranch` performs one update run on the prepared engine (by default the run against
    // the compiled-in servers); `startThread` starts the worker thread (by default std::thread).
    BranchUpdateRun runBranch;
    ThreadStarter startThread;
};

// Starts a check of both branches; `verify` asks for every file to be checked. While a check runs
// this only asks it to stop and records a re-run, which startPendingRerun starts once the worker
// has ended. If the thread cannot be started, nothing is left marked as running and the
// std::system_error goes to the caller. Window thread only.
void startUpdateCheck(UpdateWorker& worker, bool verify);

// The try-again answer: the running run stops (also when it waits for an answer) and a check with
// the full check follows. Window thread only.
void requestRerun(UpdateWorker& worker);

// Starts the pending re-run once the worker has ended; true when it started one. Window thread,
// early in every tick.
bool startPendingRerun(UpdateWorker& worker);

// What the window changes when it takes over a finished check: each play button enabled or not.
// With it, the window enables the verify-files button (repainting it when the gear panel is open),
// repaints both play buttons and flashes its caption and taskbar button until it comes to the
// foreground (flashUntilForeground in ui/branch_ui_win.h).
struct ResultsHandOff {
    std::array<bool, kBranchCount> playEnabled{};
};

// Takes over the results of a finished check, once per check; nothing while none is waiting or the
// running run waits for an answer. The window calls it only at a tick where no question is open.
// A branch may be played when it is `Ready`; when its server could not be reached, no update is
// published or the folder is a working tree, only when Tharnvl2.exe is in its folder now.
[[nodiscard]] std::optional<ResultsHandOff> takeFinishedResults(UpdateWorker& worker);

// How long the window waits at exit for a check to end. A run notices the stop request between
// files and download blocks; one stalled inside a single network read only notices when the read
// times out, and the exit must not wait for that. Stopping a run anywhere keeps every game file
// old or new.
inline constexpr std::chrono::milliseconds kWorkerExitWait{2000};

// At exit, once the frame loop has ended: asks the run to stop and waits for the worker at most
// `wait`. True when the worker has ended (the thread is joined). False when it is still running:
// the process must then end without destroying the UpdateWorker or anything the run uses (the
// window's record stays allocated and the process ends with ExitProcess). Window thread only.
[[nodiscard]] bool stopUpdateWorker(UpdateWorker& worker, std::chrono::milliseconds wait = kWorkerExitWait);
