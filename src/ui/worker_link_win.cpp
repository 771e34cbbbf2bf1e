#include "ui/launcher_app_win.h"

// The window's side of the update check.

UpdateEngine& launcherEngine(LauncherApp& app) { return *app.engine; }

int32_t activeBranchIndex(const LauncherApp& app) {
    (void)app;
    return -1;
}

bool fullCheckRunning(const LauncherApp& app) {
    (void)app;
    return false;
}

void startCheck(LauncherApp& app, bool verify) { (void)app, (void)verify; }
void startRerunIfDue(LauncherApp& app) { (void)app; }
void requestFullRerun(LauncherApp& app) { (void)app; }
void takeOverResults(LauncherApp& app) { (void)app; }
void playBranch(LauncherApp& app, int branchIndex) { (void)app, (void)branchIndex; }
void chooseFolder(LauncherApp& app, int branchIndex) { (void)app, (void)branchIndex; }

void onLanguageSwitched(LauncherApp& app) {
    if (activeBranchIndex(app) < 0) setStatusText(launcherEngine(app), buildStatusSummary(app.branchResults));
}
