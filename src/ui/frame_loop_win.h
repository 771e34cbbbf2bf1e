#pragma once

#include <windows.h>

#include "ui/launcher_app_win.h"

// The window thread's life after the application object is built. Three threads meet here:
// - the window thread runs the frame loop below; it owns everything visible;
// - the update worker (branches/update_worker_win.h), at most one at a time, writes the engine's
//   numbers as atomics and its texts under the engine's one lock; it never posts window messages;
// - the rating thread, detached, fills the rating state and sets its `loaded` flag last.
// The window thread polls both at every tick (ui/tick_win.h); input messages only record the mouse
// (ui/window_proc_win.h), and WM_PAINT draws what the tick and the input left (ui/paint_win.h).

// The run operation: starts the first check and the rating thread, asks a first-time user for a
// game folder, then runs the frame loop. Returns the last message's wParam.
WPARAM runLauncher(LauncherApp& app);

// The frame loop alone: a tick, then messages until one display frame has passed, while the
// running flag is set. A failure kept by the window procedure is rethrown here, into the entry's
// fatal-error path.
WPARAM runFrameLoop(LauncherApp& app);
