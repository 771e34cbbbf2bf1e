#pragma once

#include "ui/launcher_app_win.h"

// The window thread's per-frame step, called by the frame loop at least once per display frame.
// In this order: copies the engine's texts under its lock (status line, current file, launcher
// update caption, question text, news text, display version), starts a pending re-run, drops the
// hover of a mouse that left the window; then either the run's question (shown, or answered by its
// three buttons) or the main screen: the news cards, the first arrival of the rating and of the
// release version, a finished check's results, every recorded click, and last the status line or
// the progress bars from the engine's counters. Whatever changed on screen is invalidated here and
// drawn by the next WM_PAINT; the tick itself never paints.
void tick(LauncherApp& app);
