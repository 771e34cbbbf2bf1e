#pragma once

#include <array>
#include <functional>

#include "base/wstring.h"
#include "branches/branch_status.h"
#include "config/branch_table.h"

struct UpdateEngine;

// Performs one update run of the branch on the engine and returns when the run has ended. The
// update worker supplies its preparation of the engine and the run itself; tests supply a stand-in
// that leaves an outcome in the engine.
using BranchUpdateRun = std::function<void(int branchIndex, UpdateEngine& engine)>;

// For every pair of branches whose folders are both set and denote one folder, both are flagged.
// Computed once per check, before any branch is classified.
[[nodiscard]] std::array<bool, kBranchCount> computeSharedFolderFlags(
    const std::array<WString, kBranchCount>& folders);

// Classifies one branch folder; the first rule that applies decides:
//   folder not set, shared with the other branch, working tree, incomplete game folder, install
//   marker of the other branch, Mss23.dll lost; otherwise the folder is updated by `runUpdate` and
//   the run's outcome decides. Runs on the update worker thread.
void classifyBranch(int branchIndex, const WString& folder, bool sharedFolder, BranchCheckResults& results,
                    UpdateEngine& engine, const BranchUpdateRun& runUpdate);
