#include "branches/folder_choice.h"

#include "branches/branch_texts.h"
#include "config/settings.h"

WString folderChoiceStart(const std::array<WString, kBranchCount>& folders, int branchIndex,
                          const WString& launcherFolder) {
    const WString& own = folders[static_cast<size_t>(branchIndex)];
    if (!own.empty()) return own;
    for (const WString& folder : folders) {
        if (!folder.empty()) return folder;
    }
    return launcherFolder;
}

WString folderChoiceTitle(int branchIndex) {
    return WString(localized(branch_texts::kChooseFolderTitle)) + kBranches[branchIndex].displayName;
}

bool folderSurvivesSettingsFile(int branchIndex, const WString& folder) {
    // Decided by the file's own writer and reader rather than a list of characters, so that it
    // stays right whatever either of them learns.
    Settings written;
    written.branchFolders[static_cast<size_t>(branchIndex)] = folder;
    Settings read;
    return applySettingsText(read, buildSettingsText(written)) &&
           read.branchFolders[static_cast<size_t>(branchIndex)] == folder;
}
