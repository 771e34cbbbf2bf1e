#pragma once

#include "ui/launcher_app_win.h"

// The window's side of the update check, where the worker's results meet the window's buttons.
// Window thread only; the rest of the worker's interface (branches/update_worker_win.h) is called
// directly.

// Gives the worker the window's callbacks; called once the window exists.
void connectWorker(LauncherApp& app);
// Takes over a finished check: play buttons, verify button, a flash of the window.
void takeOverResults(LauncherApp& app);
// After a language switch: the status summary again, in the new language, unless a run is writing.
void onLanguageSwitched(LauncherApp& app);
