#pragma once

#include <array>

#include "base/wstring.h"
#include "config/branch_table.h"

// The text rules of the folder choice; the dialogs and the file system are in folder_choice_win.h.

// Where the folder browser opens for a branch: its own folder; when that is empty, the first folder
// set among the branches in table order; when none is, the launcher folder.
[[nodiscard]] WString folderChoiceStart(const std::array<WString, kBranchCount>& folders, int branchIndex,
                                        const WString& launcherFolder);

// The folder browser's title for a branch, in the interface language of the moment.
[[nodiscard]] WString folderChoiceTitle(int branchIndex);

// Whether `folder`, saved as the branch's folder in launcher.ini, is read back unchanged. The file
// keeps a folder as written, without quoting, and its reader cuts a value at '#' or ';' and drops
// blanks at both ends; a path it would change must not be saved, or after the next start the branch
// would point at another folder and the next update would write into that one.
[[nodiscard]] bool folderSurvivesSettingsFile(int branchIndex, const WString& folder);
