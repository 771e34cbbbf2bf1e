#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "base/wstring.h"
#include "config/branch_table.h"
#include "config/settings.h"

// The computed state of a branch folder. The numbers are part of the contract between the update
// worker and the window: they are stored in one 32-bit atomic per branch.
enum class BranchStatus : int32_t {
    Pending = 0,            // not yet classified in the current check
    Checking = 1,           // passed every folder test; its update run is in progress
    Ready = 2,              // the update run succeeded
    ServerUnavailable = 3,  // the update run failed otherwise, or the check failed internally
    FolderNotSet = 4,
    NotPublished = 5,   // no update is published for this branch
    SharedFolder = 6,   // the other branch's folder, or its install marker names the other branch
    NotGameFolder = 7,  // incomplete game folder, or Mss23.dll lost
    WorkTree = 8,       // version-control metadata in the folder; updating is refused
};

// The findings of the last check of one branch. Written by the update worker during a check and by
// the game launch on the window thread; the window reads status and flags at any time, hence the
// atomics (written with exchange). `missingItems` has no lock: the worker writes it only during a
// check, and the window thread touches it only in the game launch, which a running check excludes.
struct BranchCheckResults {
    std::atomic<BranchStatus> status{BranchStatus::Pending};
    std::atomic<bool> exeMissing{false};  // Tharnvl2.exe absent or a folder
    std::atomic<bool> mss23Lost{false};   // Mss23.dll absent and could not be restored
    WString missingItems;                 // completeness list; empty when the folder is complete
    // The final message of the branch's update run in this check, or null when none ran.
    std::atomic<const TextPair*> runMessage{nullptr};
};

static_assert(std::atomic<BranchStatus>::is_always_lock_free,
              "statuses are shared between threads without a lock");

using BranchResultsTable = std::array<BranchCheckResults, kBranchCount>;

// One line per branch in table order: display name, " — ", status text; joined by "\n" without a
// final line feed. In the interface language of the moment.
[[nodiscard]] WString buildStatusSummary(const BranchResultsTable& results);

// The text of one branch's status in the summary, in the interface language of the moment.
[[nodiscard]] WString statusSummaryText(const BranchCheckResults& results);

// The caption under a branch's play button, or nullptr for a status without one.
[[nodiscard]] const wchar_t* statusCaption(BranchStatus status, Language language);
