#include "branches/folder_choice_win.h"

#include <windows.h>

#include <optional>

#include "base/paths_win.h"
#include "base/run_log.h"
#include "branches/branch_texts.h"
#include "branches/folder_checks_win.h"
#include "branches/folder_choice.h"
#include "config/settings.h"
#include "config/settings_win.h"
#include "config/text_convert.h"

namespace bt = branch_texts;

namespace {

void refuse(const UpdateWorker& worker, MessageKind kind, const TextPair& caption, const TextPair& text) {
    logLine("folder choice: " + wideToUtf8(text.english));
    (void)showBranchMessage(worker.ui, kind, localized(caption), localized(text));
}

struct Refusal {
    const TextPair& caption;
    const TextPair& text;
};

// Whether the path answers as a folder. A deep folder that the browser could show may still be
// out of reach by its path, on a system where long paths are not enabled.
bool opensAsFolder(const WString& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why a chosen folder cannot become the branch's folder, if it cannot.
std::optional<Refusal> refusalOf(int branchIndex, const WString& chosen) {
    if (chosen.empty() || !opensAsFolder(chosen)) {
        return Refusal{bt::kCheckFolderCaption, bt::kUnusableFolderText};
    }
    const Settings& settings = appSettings();
    for (int other = 0; other < kBranchCount; ++other) {
        const WString& otherFolder = settings.branchFolders[static_cast<size_t>(other)];
        if (other == branchIndex || otherFolder.empty()) continue;
        if (isSameFolder(otherFolder, chosen)) {
            return Refusal{bt::kCheckFolderCaption, bt::kOtherBranchFolderText};
        }
    }
    if (isWorkTree(chosen)) return Refusal{bt::kWorkTreeCaption, bt::kWorkTreeText};
    if (!folderSurvivesSettingsFile(branchIndex, chosen)) {
        return Refusal{bt::kCheckFolderCaption, bt::kUnstorableFolderText};
    }
    return std::nullopt;
}

}  // namespace

void chooseBranchFolder(UpdateWorker& worker, int branchIndex) {
    // The worker reads the folders without a lock; it must not run while one changes.
    if (worker.workerRunning.load()) {
        refuse(worker, MessageKind::Information, bt::kCheckRunningCaption, bt::kCheckRunningChoiceText);
        return;
    }
    Settings& settings = appSettings();
    const WString ownFolder = worker.launcherFolder.empty() ? launcherFolder() : worker.launcherFolder;
    const WString start = folderChoiceStart(settings.branchFolders, branchIndex, ownFolder);
    const std::optional<WString> picked =
        worker.ui.pickFolder ? worker.ui.pickFolder(folderChoiceTitle(branchIndex), start) : std::nullopt;
    if (!picked) return;  // cancelled
    const WString& chosen = *picked;
    logLine(std::string("folder choice for ") + kBranches[branchIndex].identifierUtf8 + ": \"" +
            wideToUtf8(chosen) + "\"");

    if (const std::optional<Refusal> refusal = refusalOf(branchIndex, chosen)) {
        refuse(worker, MessageKind::Warning, refusal->caption, refusal->text);
        return;
    }
    if (isExeMissing(chosen) &&
        !showBranchMessage(worker.ui, MessageKind::YesNo, localized(bt::kCheckFolderCaption),
                           localized(bt::kNoGameExeQuestion))) {
        logLine("folder choice: no Tharnvl2.exe there, not taken");
        return;
    }

    // Kept as the browser returned it: the comparisons normalise, the stored path does not.
    WString& folder = settings.branchFolders[static_cast<size_t>(branchIndex)];
    const WString previous = folder;
    folder = chosen;
    if (!saveSettingsTo(settings, ownFolder)) {
        folder = previous;  // memory and launcher.ini keep agreeing
        refuse(worker, MessageKind::Error, bt::kSettingsNotSavedCaption, bt::kFolderNotSavedText);
        return;
    }
    logLine("folder choice: saved");
    startUpdateCheck(worker, false);
}
