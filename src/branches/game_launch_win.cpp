#include "branches/game_launch_win.h"

#include "base/constants.h"
#include "base/run_log.h"
#include "branches/branch_texts.h"
#include "branches/folder_checks_win.h"
#include "branches/game_launch.h"
#include "config/settings.h"
#include "config/text_convert.h"

bool launchBranch(UpdateWorker& worker, int branchIndex) {
    const WString caption = kBranches[branchIndex].displayName;
    if (worker.workerRunning.load()) {
        (void)showBranchMessage(worker.ui, MessageKind::Information, caption,
                                localized(branch_texts::kLaunchDuringCheckText));
        return false;
    }
    const WString folder = appSettings().branchFolders[static_cast<size_t>(branchIndex)];
    const WString missing = folder.empty() ? WString() : listMissingGameItems(folder);
    const bool mss23Lost = !folder.empty() && missing.empty() && !fileExistsIn(folder, kGameSoundLibrary);
    if (!folder.empty() && missing.empty() && !mss23Lost) {
        const WString game = folder + L"\\" + kGameExeName;
        const bool started = worker.ui.startProgram && worker.ui.startProgram(game, folder);
        logLine("game start \"" + wideToUtf8(game) + "\": " + (started ? "started" : "could not be started"));
        return started;
    }
    logLine(std::string("game start refused for ") + kBranches[branchIndex].identifierUtf8 + ": " +
            (folder.empty() ? std::string("no folder")
             : mss23Lost    ? std::string("Mss23.dll lost")
                            : "missing " + wideToUtf8(missing)));

    // Refused. The window thread writes these only here, and a check is not running.
    BranchCheckResults& results = worker.results[static_cast<size_t>(branchIndex)];
    results.exeMissing.exchange(!folder.empty() && isExeMissing(folder));
    if (!folder.empty()) {
        results.missingItems = missing;
        results.mss23Lost.exchange(mss23Lost);
        results.status.exchange(BranchStatus::NotGameFolder);
    }
    // No check runs (see above), so the status line shows the summary, which must now say what the
    // caption under the play button says: the results may well have been handed over long ago.
    setStatusText(worker.engine, buildStatusSummary(worker.results));
    if (worker.ui.invalidateWindow) worker.ui.invalidateWindow();
    (void)showBranchMessage(worker.ui, MessageKind::Warning, caption,
                            launchRefusalText(folder, missing, mss23Lost));
    return false;
}
