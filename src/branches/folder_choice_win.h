#pragma once

#include "branches/update_worker_win.h"

// Lets the user bind a game folder to a branch through the folder browser. Refused while a check
// runs, for the other branch's folder, for a version-control working tree and for a path that
// launcher.ini cannot keep unchanged; a folder without Tharnvl2.exe is taken only when the user
// confirms. The folder is saved to launcher.ini at once (and kept in memory only if that worked),
// then a new check starts. Every outcome but a cancelled browser is shown in a message box.
// Window thread only: the dialogs are modal, so no check can start while the choice is open.
void chooseBranchFolder(UpdateWorker& worker, int branchIndex);
