#include "branches/game_launch.h"

#include "branches/branch_texts.h"
#include "config/settings.h"

namespace bt = branch_texts;

WString launchRefusalText(const WString& folder, const WString& missingItems, bool mss23Lost) {
    if (folder.empty()) return localized(bt::kLaunchFolderNotSetText);
    const WString folderLine = localized(bt::kLaunchFolderLabel) + folder;
    if (mss23Lost) {
        return localized(bt::kLaunchMss23MissingHead) + folderLine + localized(bt::kLaunchMss23MissingTail);
    }
    return localized(bt::kLaunchMissingFilesHead) + missingItems + folderLine +
           localized(bt::kLaunchMissingFilesTail);
}
