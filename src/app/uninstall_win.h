#pragma once

#include "base/wstring.h"

// The "-uninstall" mode: an outside uninstaller runs the launcher from the game folder, so the
// launcher folder is the game folder. Deletes every safe path of the uninstall list, its ".gz"
// companion and the folders that became empty, then the installed-version file and the list
// itself. Silent on every failure; never touches launcher.ini, launcher_error.log or the
// executable, none of which can pass the path rules.
void runUninstall(const WString& launcherFolder);
