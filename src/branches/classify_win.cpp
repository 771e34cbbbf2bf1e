#include "branches/classify_win.h"

#include "branches/folder_checks_win.h"
#include "update/update_engine.h"

std::array<bool, kBranchCount> computeSharedFolderFlags(const std::array<WString, kBranchCount>& folders) {
    std::array<bool, kBranchCount> shared{};
    for (size_t i = 0; i < folders.size(); ++i) {
        for (size_t j = i + 1; j < folders.size(); ++j) {
            if (folders[i].empty() || folders[j].empty()) continue;
            if (isSameFolder(folders[i], folders[j])) shared[i] = shared[j] = true;
        }
    }
    return shared;
}

void classifyBranch(int branchIndex, const WString& folder, bool sharedFolder, BranchCheckResults& results,
                    UpdateEngine& engine, const BranchUpdateRun& runUpdate) {
    const Branch& branch = kBranches[branchIndex];
    if (folder.empty()) {
        results.status.exchange(BranchStatus::FolderNotSet);
        results.exeMissing.exchange(false);
        return;
    }
    if (sharedFolder) {
        results.status.exchange(BranchStatus::SharedFolder);
        results.exeMissing.exchange(false);
        return;
    }
    // A working tree is refused before anything else is looked at: an update would overwrite
    // files under version control.
    if (isWorkTree(folder)) {
        results.status.exchange(BranchStatus::WorkTree);
        results.exeMissing.exchange(isExeMissing(folder));
        results.missingItems.clear();
        results.mss23Lost.exchange(false);
        return;
    }
    results.exeMissing.exchange(isExeMissing(folder));
    results.missingItems = listMissingGameItems(folder);
    results.mss23Lost.exchange(false);
    if (!results.missingItems.empty()) {
        results.status.exchange(BranchStatus::NotGameFolder);
        return;
    }
    if (markerNamesOtherBranch(folder, branch.identifierUtf8)) {
        results.status.exchange(BranchStatus::SharedFolder);
        results.exeMissing.exchange(false);
        return;
    }
    // Only a folder that belongs to this branch may have its sound library repaired.
    if (ensureSoundLibrary(folder) == kSoundLibraryLost) {
        results.mss23Lost.exchange(true);
        results.status.exchange(BranchStatus::NotGameFolder);
        return;
    }

    results.status.exchange(BranchStatus::Checking);
    runUpdate(branchIndex, engine);
    results.runMessage.exchange(engine.outcomeText.load());
    if (engine.state.load() == kStateFinished) {
        results.status.exchange(BranchStatus::Ready);
        writeInstallMarker(folder, branch.identifierUtf8);
    } else if (engine.notPublished) {
        results.status.exchange(BranchStatus::NotPublished);
    } else {
        results.status.exchange(BranchStatus::ServerUnavailable);
    }
    // The run may have added files.
    results.exeMissing.exchange(isExeMissing(folder));
    results.missingItems = listMissingGameItems(folder);
}
