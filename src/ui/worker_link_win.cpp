#include "ui/worker_link_win.h"

#include "ui/branch_ui_win.h"
#include "ui/paint_win.h"

void connectWorker(LauncherApp& app) {
    UpdateWorker& worker = *app.worker;
    worker.ui = makeWindowBranchUi(app.window, app.elevated);
    // Called by every check start on the window thread: no second start can come from these
    // buttons while a check runs, and the remaining-time estimate starts afresh.
    worker.ui.checkStarting = [&app] {
        app.progress = ProgressTracker{};
        if (setButtonEnabled(app.buttons.verify, false) && app.input.gearPanelOpen)
            invalidate(app.window, app.buttons.verify.rect());
        for (ImageButton& play : app.buttons.play) {
            if (setButtonEnabled(play, false)) invalidate(app.window, play.rect());
        }
    };
}

void takeOverResults(LauncherApp& app) {
    const std::optional<ResultsHandOff> handOff = takeFinishedResults(*app.worker);
    if (!handOff) return;
    for (size_t i = 0; i < app.buttons.play.size(); ++i) {
        setButtonEnabled(app.buttons.play[i], handOff->playEnabled[i]);
        invalidate(app.window, app.buttons.play[i].rect());
    }
    flashUntilForeground(app.window);
    setButtonEnabled(app.buttons.verify, true);
    if (app.input.gearPanelOpen) invalidate(app.window, app.buttons.verify.rect());
}

void onLanguageSwitched(LauncherApp& app) {
    UpdateWorker& worker = *app.worker;
    if (worker.resultsReady.load() || worker.activeBranch.load() < 0) {
        setStatusText(worker.engine, buildStatusSummary(worker.results));
    }
}
