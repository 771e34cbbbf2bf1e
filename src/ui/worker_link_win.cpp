#include "branches/folder_choice_win.h"
#include "branches/game_launch_win.h"
#include "ui/branch_ui_win.h"
#include "ui/launcher_app_win.h"

// The window's side of the update check: the only place that calls the worker.

namespace {

void invalidate(LauncherApp& app, const IntRect& rect) {
    const RECT r{rect.left, rect.top, rect.right(), rect.bottom()};
    InvalidateRect(app.window, &r, FALSE);
}

}  // namespace

void connectWorker(LauncherApp& app) {
    UpdateWorker& worker = *app.worker;
    worker.ui = makeWindowBranchUi(app.window, app.elevated);
    // Called by every check start on the window thread: no second start can come from these
    // buttons while a check runs, and the remaining-time estimate starts afresh.
    worker.ui.checkStarting = [&app] {
        app.progress = ProgressTracker{};
        if (setButtonEnabled(app.buttons.verify, false) && app.input.gearPanelOpen)
            invalidate(app, app.buttons.verify.rect());
        for (ImageButton& play : app.buttons.play) {
            if (setButtonEnabled(play, false)) invalidate(app, play.rect());
        }
    };
}

UpdateEngine& launcherEngine(LauncherApp& app) { return app.worker->engine; }

int32_t activeBranchIndex(const LauncherApp& app) { return app.worker->activeBranch.load(); }

bool fullCheckRunning(const LauncherApp& app) { return app.worker->checkVerify; }

void startCheck(LauncherApp& app, bool verify) { startUpdateCheck(*app.worker, verify); }

void startRerunIfDue(LauncherApp& app) { (void)startPendingRerun(*app.worker); }

void requestFullRerun(LauncherApp& app) { requestRerun(*app.worker); }

void takeOverResults(LauncherApp& app) {
    const std::optional<ResultsHandOff> handOff = takeFinishedResults(*app.worker);
    if (!handOff) return;
    for (size_t i = 0; i < app.buttons.play.size(); ++i) {
        setButtonEnabled(app.buttons.play[i], handOff->playEnabled[i]);
        invalidate(app, app.buttons.play[i].rect());
    }
    flashUntilForeground(app.window);
    setButtonEnabled(app.buttons.verify, true);
    if (app.input.gearPanelOpen) invalidate(app, app.buttons.verify.rect());
}

void playBranch(LauncherApp& app, int branchIndex) {
    if (launchBranch(*app.worker, branchIndex)) app.running = false;
}

void chooseFolder(LauncherApp& app, int branchIndex) { chooseBranchFolder(*app.worker, branchIndex); }

void onLanguageSwitched(LauncherApp& app) {
    UpdateWorker& worker = *app.worker;
    if (worker.resultsReady.load() || worker.activeBranch.load() < 0) {
        setStatusText(worker.engine, buildStatusSummary(worker.results));
    }
}

bool finishBackgroundWork(LauncherApp& app) {
    const bool workerEnded = stopUpdateWorker(*app.worker);
    // The rating thread shares only the rating state, which is never freed; it may go on until the
    // process ends.
    return workerEnded;
}
