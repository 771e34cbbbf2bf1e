#pragma once

#include "branches/update_worker_win.h"

// A click on a branch's play button. The folder is tested again on the spot: when it is complete,
// with Mss23.dll in place, Tharnvl2.exe is started in it and the result is true, and the caller
// clears its running flag so that the launcher ends. Otherwise the branch is recorded as not a
// game folder and a message says what is missing; a failed start stays silent (the shell shows its
// own error). While a check runs nothing is started: the click may have been recorded before the
// play button was disabled, and the update may be replacing the game's files; a message asks the
// player to wait. Window thread only.
[[nodiscard]] bool launchBranch(UpdateWorker& worker, int branchIndex);
