#include "branches/classify_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "branches/folder_checks_win.h"
#include "support/game_folder_win.h"
#include "support/test_env_win.h"
#include "update/update_engine.h"

namespace {

constexpr int kLurra = 0;
constexpr int kKtvx = 1;
const char kKtvxMarker[] = "# Varnhold install marker - do not edit\nchannel=ktvx\n";
const char kLurraMarker[] = "# Varnhold install marker - do not edit\nchannel=lurra\n";

// Stands in for the update run: records that it ran and what the branch showed meanwhile, then
// leaves the given outcome in the engine.
struct RunStandIn {
    int32_t finalState = kStateFinished;
    bool notPublished = false;
    std::function<void()> duringRun;

    int calls = 0;
    int branchSeen = -1;
    BranchStatus statusDuringRun = BranchStatus::Pending;
    const BranchCheckResults* results = nullptr;

    BranchUpdateRun run() {
        return [this](int branchIndex, UpdateEngine& engine) {
            ++calls;
            branchSeen = branchIndex;
            if (results) statusDuringRun = results->status.load();
            if (duringRun) duringRun();
            engine.notPublished = notPublished;
            engine.state.exchange(finalState);
        };
    }
};

class Classify : public testing::Test {
protected:
    // Results as a previous check may have left them, so that every rule must write its fields.
    void SetUp() override {
        results.status.exchange(BranchStatus::Pending);
        results.exeMissing.exchange(true);
        results.mss23Lost.exchange(true);
        results.missingItems = L"left from the last check";
        standIn.results = &results;
    }

    void classify(int branch, const WString& folder, bool shared = false) {
        classifyBranch(branch, folder, shared, results, engine, standIn.run());
    }

    // A complete game folder whose sound library is in place: it passes every folder test.
    [[nodiscard]] bool makePassingFolder(const WString& folder) {
        return makeCompleteGameFolder(folder) && writeFileBytes(folder + L"\\Mss23.dll", "library");
    }

    BranchCheckResults results;
    UpdateEngine engine;
    RunStandIn standIn;
};

// --- the order of the rules: each test pits two neighbouring rules against each other ---

TEST_F(Classify, FolderNotSetWinsOverSharedFlag) {
    classify(kLurra, L"", true);
    EXPECT_EQ(results.status.load(), BranchStatus::FolderNotSet);
    EXPECT_FALSE(results.exeMissing.load());
    EXPECT_EQ(standIn.calls, 0);
}

TEST_F(Classify, SharedFlagWinsOverWorkTree) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L".git"));
    classify(kLurra, dir.path(), true);
    EXPECT_EQ(results.status.load(), BranchStatus::SharedFolder);
    EXPECT_FALSE(results.exeMissing.load());
    EXPECT_EQ(standIn.calls, 0);
}

TEST_F(Classify, WorkTreeWinsOverIncompleteFolder) {
    ScratchDir dir;
    ASSERT_TRUE(writeFileBytes(dir / L".git", "gitdir: ../main/.git/worktrees/game\n"));
    classify(kLurra, dir.path());
    EXPECT_EQ(results.status.load(), BranchStatus::WorkTree);
    EXPECT_TRUE(results.exeMissing.load());
    EXPECT_EQ(results.missingItems, L"");
    EXPECT_FALSE(results.mss23Lost.load());
    EXPECT_EQ(standIn.calls, 0);
}

TEST_F(Classify, IncompleteFolderWinsOverOtherBranchMarker) {
    ScratchDir dir;
    ASSERT_TRUE(makePassingFolder(dir.path()));
    ASSERT_TRUE(DeleteFileW((dir / L"Video\\data.bin").c_str()));
    ASSERT_TRUE(writeFileBytes(dir / L"VarnholdChannel.ini", kKtvxMarker));
    classify(kLurra, dir.path());
    EXPECT_EQ(results.status.load(), BranchStatus::NotGameFolder);
    EXPECT_EQ(results.missingItems, L"Video\\");
    EXPECT_FALSE(results.exeMissing.load());
    EXPECT_FALSE(results.mss23Lost.load());
    EXPECT_EQ(standIn.calls, 0);
}

TEST_F(Classify, IncompleteFolderRecordsAMissingExecutable) {
    ScratchDir dir;
    ASSERT_TRUE(makePassingFolder(dir.path()));
    ASSERT_TRUE(DeleteFileW((dir / L"Tharnvl2.exe").c_str()));
    classify(kKtvx, dir.path());
    EXPECT_EQ(results.status.load(), BranchStatus::NotGameFolder);
    EXPECT_EQ(results.missingItems, L"Tharnvl2.exe");
    EXPECT_TRUE(results.exeMissing.load());
}

// The marker must be read before the sound library is touched: a folder of the other branch is
// neither repaired nor reported as lost.
TEST_F(Classify, OtherBranchMarkerWinsOverSoundLibrary) {
    const struct {
        const char* name;
        bool restorableSource;
    } cases[] = {{"restorable", true}, {"lost", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ScratchDir dir;
        ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
        if (c.restorableSource) {
            ASSERT_TRUE(CopyFileW(testDllPath("sound_library").c_str(), (dir / L"mss32.dll").c_str(), TRUE));
        }
        ASSERT_TRUE(writeFileBytes(dir / L"VarnholdChannel.ini", kLurraMarker));
        classify(kKtvx, dir.path());
        EXPECT_EQ(results.status.load(), BranchStatus::SharedFolder);
        EXPECT_FALSE(results.exeMissing.load());
        EXPECT_EQ(results.missingItems, L"");
        EXPECT_FALSE(results.mss23Lost.load());
        EXPECT_FALSE(fileExists(dir / L"Mss23.dll"));
        EXPECT_EQ(standIn.calls, 0);
    }
}

TEST_F(Classify, LostSoundLibraryWinsOverUpdateRun) {
    ScratchDir dir;
    ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
    ASSERT_TRUE(CopyFileW(testDllPath("sound_proxy").c_str(), (dir / L"mss32.dll").c_str(), TRUE));
    classify(kLurra, dir.path());
    EXPECT_EQ(results.status.load(), BranchStatus::NotGameFolder);
    EXPECT_TRUE(results.mss23Lost.load());
    EXPECT_FALSE(results.exeMissing.load());
    EXPECT_EQ(results.missingItems, L"");
    EXPECT_EQ(standIn.calls, 0);
    EXPECT_FALSE(fileExists(dir / L"Mss23.dll"));
}

// --- the folder passes: the update run and its outcome ---

TEST_F(Classify, RestoredSoundLibraryLetsTheRunGoAhead) {
    ScratchDir dir;
    ASSERT_TRUE(makeCompleteGameFolder(dir.path()));
    ASSERT_TRUE(CopyFileW(testDllPath("sound_library").c_str(), (dir / L"mss32.dll").c_str(), TRUE));
    ASSERT_TRUE(writeFileBytes(dir / L"VarnholdChannel.ini", kLurraMarker));  // its own branch
    classify(kLurra, dir.path());
    EXPECT_TRUE(fileExists(dir / L"Mss23.dll"));
    EXPECT_EQ(standIn.calls, 1);
    EXPECT_EQ(results.status.load(), BranchStatus::Ready);
    EXPECT_FALSE(results.mss23Lost.load());
}

TEST_F(Classify, SuccessfulRunMakesTheBranchReadyAndWritesItsMarker) {
    ScratchDir dir;
    ASSERT_TRUE(makePassingFolder(dir.path()));
    classify(kKtvx, dir.path());
    EXPECT_EQ(standIn.calls, 1);
    EXPECT_EQ(standIn.branchSeen, kKtvx);
    EXPECT_EQ(standIn.statusDuringRun, BranchStatus::Checking);
    EXPECT_EQ(results.status.load(), BranchStatus::Ready);
    EXPECT_FALSE(results.exeMissing.load());
    EXPECT_FALSE(results.mss23Lost.load());
    EXPECT_EQ(results.missingItems, L"");
    EXPECT_EQ(readFileBytes(dir / L"VarnholdChannel.ini"), std::optional<std::string>(kKtvxMarker));
}

TEST_F(Classify, FailedRunOutcomes) {
    const struct {
        const char* name;
        int32_t state;
        bool notPublished;
        BranchStatus expected;
    } cases[] = {
        {"success wins over a stale not-published flag", kStateFinished, true, BranchStatus::Ready},
        {"not published", kStateNoDescriptor, true, BranchStatus::NotPublished},
        {"no server", kStateNoDescriptor, false, BranchStatus::ServerUnavailable},
        {"download failed", kStateDownloadFailed, false, BranchStatus::ServerUnavailable},
        {"files in use, not published flag", kStateFilesInUse, true, BranchStatus::NotPublished},
        {"cancelled in the middle", kStateCheckingFiles, false, BranchStatus::ServerUnavailable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ScratchDir dir;
        ASSERT_TRUE(makePassingFolder(dir.path()));
        standIn.finalState = c.state;
        standIn.notPublished = c.notPublished;
        classify(kLurra, dir.path());
        EXPECT_EQ(results.status.load(), c.expected);
        EXPECT_EQ(fileExists(dir / L"VarnholdChannel.ini"), c.expected == BranchStatus::Ready);
    }
}

TEST_F(Classify, FolderContentIsMeasuredAgainAfterTheRun) {
    ScratchDir dir;
    ASSERT_TRUE(makePassingFolder(dir.path()));
    standIn.finalState = kStateNoDescriptor;
    standIn.duringRun = [&] {
        DeleteFileW((dir / L"Tharnvl2.exe").c_str());
        DeleteFileW((dir / L"Scens\\data.bin").c_str());
    };
    classify(kLurra, dir.path());
    EXPECT_EQ(results.status.load(), BranchStatus::ServerUnavailable);
    EXPECT_TRUE(results.exeMissing.load());
    EXPECT_EQ(results.missingItems, L"Tharnvl2.exe, Scens\\");
}

// --- the shared-folder flags of a check ---

TEST(SharedFolderFlags, BothBranchesFlaggedOnlyWhenBothFoldersAreSetAndOne) {
    ScratchDir dir;
    ASSERT_TRUE(makeFolders(dir / L"Game"));
    ASSERT_TRUE(makeFolders(dir / L"Other"));
    const WString game = dir / L"Game";
    const WString sameWrittenDifferently = dir.path() + L"/GAME/";
    using Folders = std::array<WString, kBranchCount>;
    using Flags = std::array<bool, kBranchCount>;
    EXPECT_EQ(computeSharedFolderFlags(Folders{game, sameWrittenDifferently}), (Flags{true, true}));
    EXPECT_EQ(computeSharedFolderFlags(Folders{game, dir / L"Other"}), (Flags{false, false}));
    EXPECT_EQ(computeSharedFolderFlags(Folders{game, L""}), (Flags{false, false}));
    EXPECT_EQ(computeSharedFolderFlags(Folders{L"", L""}), (Flags{false, false}));
    EXPECT_EQ(computeSharedFolderFlags(Folders{L"  ", game}), (Flags{true, true}));
}

}  // namespace
