#include "branches/update_worker_win.h"

#include <windows.h>

#include <objbase.h>

#include <exception>
#include <string>
#include <utility>

#include "base/run_log.h"
#include "branches/branch_texts.h"
#include "branches/folder_checks_win.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "update/update_run_win.h"

namespace bt = branch_texts;

namespace {

constexpr std::chrono::milliseconds kStopPollInterval{10};

// COM for the life of the worker thread: the update run starts programs through the shell, whose
// extensions may use COM. Apartment-threaded, as the shell expects.
class ComApartment {
public:
    ComApartment() : initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialized) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized;
};

const char* statusName(BranchStatus status) {
    static const char* const names[] = {
        "pending",        "checking",      "ready",         "server unavailable",
        "folder not set", "not published", "shared folder", "not a game folder",
        "work tree"};
    const auto index = static_cast<size_t>(status);
    return index < std::size(names) ? names[index] : "?";
}

void logBranchResult(int branchIndex, const WString& folder, const BranchCheckResults& results) {
    std::string line = std::string("branch ") + kBranches[branchIndex].identifierUtf8 + ", folder " +
                       (folder.empty() ? std::string("not set") : "\"" + wideToUtf8(folder) + "\"") + ": " +
                       statusName(results.status.load());
    if (!results.missingItems.empty()) line += ", missing: " + wideToUtf8(results.missingItems);
    if (results.mss23Lost.load()) line += ", Mss23.dll lost";
    logLine(line);
}

void askRunToStop(UpdateEngine& engine) {
    // A run that waits for the answer to a question stops waiting and then sees the stop request.
    engine.stopRequested.exchange(true);
    engine.dialogAnswer.exchange(false);
    engine.dialogPending.exchange(false);
}

// Classifies both branches and updates those that pass, in table order, until a stop request.
void checkBranches(UpdateWorker& worker, bool checkVerify) {
    for (BranchCheckResults& results : worker.results) {
        results.status.exchange(BranchStatus::Pending);
        results.runMessage.exchange(nullptr);
    }
    // The folder choice, the only writer of the folders, refuses to run while a check runs, so one
    // copy without a lock holds for the whole check.
    const std::array<WString, kBranchCount> folders = appSettings().branchFolders;
    const std::array<bool, kBranchCount> shared = computeSharedFolderFlags(folders);
    bool newsSeen = false;
    logLine(std::string("check started, full check ") + (checkVerify ? "yes" : "no"));

    const BranchUpdateRun prepareAndRun = [&](int branchIndex, UpdateEngine& engine) {
        worker.activeBranch.exchange(branchIndex);
        engine.folder = folders[static_cast<size_t>(branchIndex)];
        engine.serverPath = kBranches[branchIndex].serverPath;
        // The news is the same for both branches: once one run has it, the other does not ask.
        engine.fetchNews = !newsSeen;
        engine.verifyAll = checkVerify;
        engine.state.exchange(kStateCreated);
        engine.outcomeText.exchange(nullptr);
        setStatusText(engine, localized(bt::kPreparing));
        worker.runBranch(branchIndex, engine);
        if (!copyNewsText(engine).empty()) newsSeen = true;
    };

    for (int i = 0; i < kBranchCount; ++i) {
        // A branch that a cancelled check does not reach stays Pending and shows "?".
        if (worker.engine.stopRequested.load()) break;
        const size_t slot = static_cast<size_t>(i);
        classifyBranch(i, folders[slot], shared[slot], worker.results[slot], worker.engine, prepareAndRun);
        logBranchResult(i, folders[slot], worker.results[slot]);
    }
    worker.activeBranch.exchange(-1);
    setStatusText(worker.engine, buildStatusSummary(worker.results));
    worker.resultsReady.exchange(true);
}

// The check ended by an exception: the branches it did not finish count as unreachable. Must not
// throw itself; a text that cannot be set (no memory) leaves the last one.
void reportInternalFailure(UpdateWorker& worker) noexcept {
    for (BranchCheckResults& results : worker.results) {
        const BranchStatus status = results.status.load();
        if (status == BranchStatus::Pending || status == BranchStatus::Checking) {
            results.status.exchange(BranchStatus::ServerUnavailable);
        }
    }
    worker.activeBranch.exchange(-1);
    try {
        setStatusText(worker.engine, localized(bt::kCheckFailedInternal));
    } catch (...) {
    }
    worker.resultsReady.exchange(true);
}

void logInternalFailure(const char* what) noexcept {
    try {
        logLine(std::string("check failed with an internal error: ") + what);
    } catch (...) {
    }
}

// The whole life of the worker thread. Nothing may escape a thread's entry function.
void workerThreadMain(UpdateWorker& worker, bool checkVerify) noexcept {
    {
        ComApartment com;
        try {
            checkBranches(worker, checkVerify);
        } catch (const std::exception& error) {
            logInternalFailure(error.what());
            reportInternalFailure(worker);
        } catch (...) {
            logInternalFailure("not a standard exception");
            reportInternalFailure(worker);
        }
    }
    worker.workerRunning.exchange(false);  // last: the window may join and start the next check
}

bool playAllowed(BranchStatus status, const WString& folder) {
    switch (status) {
        case BranchStatus::Ready:
            return true;
        case BranchStatus::ServerUnavailable:
        case BranchStatus::NotPublished:
        case BranchStatus::WorkTree:
            // The game may still be there to play without an update: tested now, because the
            // folder may have changed since the check.
            return !folder.empty() && !isExeMissing(folder);
        default:
            return false;
    }
}

}  // namespace

UpdateWorker::UpdateWorker()
    : runBranch([](int, UpdateEngine& engine) { (void)runUpdate(engine, launcherRunSetup()); }),
      startThread([](std::function<void()> body) { return std::thread(std::move(body)); }) {}

UpdateWorker::~UpdateWorker() {
    if (!thread.joinable()) return;
    askRunToStop(engine);
    thread.join();
}

void startUpdateCheck(UpdateWorker& worker, bool verify) {
    if (worker.ui.checkStarting) worker.ui.checkStarting();
    worker.resultsReady.exchange(false);
    if (worker.workerRunning.load()) {
        worker.rerunPending = true;
        worker.rerunVerify = verify;
        askRunToStop(worker.engine);
        return;
    }
    // The previous worker has finished or is about to: clearing workerRunning is its last action.
    if (worker.thread.joinable()) worker.thread.join();
    worker.engine.stopRequested.exchange(false);
    worker.checkVerify = verify;
    worker.workerRunning.exchange(true);
    try {
        worker.thread = worker.startThread([&worker, verify] { workerThreadMain(worker, verify); });
    } catch (...) {
        worker.workerRunning.exchange(false);
        throw;
    }
}

void requestRerun(UpdateWorker& worker) {
    worker.rerunPending = true;
    worker.rerunVerify = true;
    askRunToStop(worker.engine);
}

bool startPendingRerun(UpdateWorker& worker) {
    if (!worker.rerunPending || worker.workerRunning.load()) return false;
    worker.rerunPending = false;
    startUpdateCheck(worker, worker.rerunVerify);
    return true;
}

std::optional<ResultsHandOff> takeFinishedResults(UpdateWorker& worker) {
    if (!worker.resultsReady.load() || worker.engine.dialogPending.load()) return std::nullopt;
    worker.resultsReady.exchange(false);
    ResultsHandOff handOff;
    for (size_t i = 0; i < handOff.playEnabled.size(); ++i) {
        handOff.playEnabled[i] = playAllowed(worker.results[i].status.load(), appSettings().branchFolders[i]);
    }
    return handOff;
}

bool stopUpdateWorker(UpdateWorker& worker, std::chrono::milliseconds wait) {
    worker.rerunPending = false;
    askRunToStop(worker.engine);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (worker.workerRunning.load()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kStopPollInterval);
    }
    if (worker.thread.joinable()) worker.thread.join();
    return true;
}
