#include "branches/branch_status.h"

#include "branches/branch_texts.h"
#include "config/settings.h"

namespace bt = branch_texts;

WString statusSummaryText(const BranchCheckResults& results) {
    switch (results.status.load()) {
        case BranchStatus::Pending:
        case BranchStatus::Checking:
            return localized(bt::kUnknown);
        // After a run its own message says what happened ("All files updated successfully!", "some
        // files are in use…"); a bare "ready" or "server unavailable" would hide it, and would call
        // files held by another program a server failure.
        case BranchStatus::Ready:
            if (const TextPair* message = results.runMessage.load()) return localized(*message);
            return localized(bt::kReady);
        case BranchStatus::ServerUnavailable:
            if (const TextPair* message = results.runMessage.load()) return localized(*message);
            return localized(bt::kServerUnavailable);
        case BranchStatus::FolderNotSet:
            return localized(bt::kFolderNotSet);
        case BranchStatus::NotPublished:
            return localized(bt::kNotPublished);
        case BranchStatus::SharedFolder:
            return localized(bt::kDuplicateFolder);
        case BranchStatus::NotGameFolder:
            if (results.mss23Lost.load()) return localized(bt::kMss23Lost);
            if (results.exeMissing.load()) return localized(bt::kNoGameExe);
            return localized(bt::kNotGameFolder);
        case BranchStatus::WorkTree:
            return localized(bt::kWorkTree);
    }
    return localized(bt::kUnknown);  // a value outside the enumeration: nothing is known
}

WString buildStatusSummary(const BranchResultsTable& results) {
    WString summary;
    for (int i = 0; i < kBranchCount; ++i) {
        if (i > 0) summary += L'\n';
        summary += kBranches[i].displayName;
        summary += L" — ";
        summary += statusSummaryText(results[static_cast<size_t>(i)]);
    }
    return summary;
}

const wchar_t* statusCaption(BranchStatus status, Language language) {
    const TextPair* text = nullptr;
    switch (status) {
        case BranchStatus::FolderNotSet:
            text = &bt::kCaptionFolderNotSet;
            break;
        case BranchStatus::SharedFolder:
            text = &bt::kCaptionSharedFolder;
            break;
        case BranchStatus::NotGameFolder:
            text = &bt::kCaptionNotGameFolder;
            break;
        case BranchStatus::WorkTree:
            text = &bt::kCaptionWorkTree;
            break;
        case BranchStatus::NotPublished:
            text = &bt::kCaptionNotPublished;
            break;
        case BranchStatus::ServerUnavailable:
            text = &bt::kCaptionServerUnavailable;
            break;
        case BranchStatus::Pending:
        case BranchStatus::Checking:
        case BranchStatus::Ready:
            break;
    }
    if (!text) return nullptr;
    return localized(*text, language);
}
