#include "branches/update_worker_win.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "branches/branch_fixture_win.h"
#include "branches/game_folder_win.h"
#include "support/language_scope.h"
#include "support/test_env_win.h"

namespace {

struct RunSeen {
    int branch;
    bool verifyAll;
    bool fetchNews;
};

// Stand-in update runs: each records what the worker prepared, then does what the test asks.
class Worker : public testing::Test {
protected:
    void SetUp() override {
        worker.ui = recorder.ui();
        worker.runBranch = [this](int branch, UpdateEngine& engine) {
            {
                std::lock_guard<std::mutex> guard(seenLock);
                seen.push_back({branch, engine.verifyAll, engine.fetchNews});
            }
            if (duringRun) duringRun(branch, engine);
            engine.state.exchange(finalState);
        };
    }

    // Two complete game folders, one per branch, that pass every folder test.
    [[nodiscard]] bool makeTwoGameFolders() {
        for (const wchar_t* name : {L"lurra", L"ktvx"}) {
            if (!makeCompleteGameFolder(dir / name) ||
                !writeFileBytes(dir / name + L"\\Mss23.dll", "library")) {
                return false;
            }
        }
        folders.emplace(std::array<WString, kBranchCount>{dir / L"lurra", dir / L"ktvx"});
        return true;
    }

    [[nodiscard]] bool waitForIdle() {
        return waitUntil([this] { return !worker.workerRunning.load(); });
    }

    std::vector<RunSeen> runsSeen() {
        std::lock_guard<std::mutex> guard(seenLock);
        return seen;
    }

    LanguageScope english{Language::English};
    ScratchDir dir;
    std::optional<FoldersScope> folders;
    UiRecorder recorder;
    std::function<void(int, UpdateEngine&)> duringRun;
    int32_t finalState = kStateNoDescriptor;
    std::mutex seenLock;
    std::vector<RunSeen> seen;
    UpdateWorker worker;  // last: destroyed first, while what its runs use still exists
};

TEST_F(Worker, RerunRequestsDuringACheckGiveExactlyOneNewCheck) {
    ASSERT_TRUE(makeTwoGameFolders());
    std::atomic<bool> firstRun{true};
    duringRun = [&](int, UpdateEngine& engine) {
        // The first run lasts until the check is cancelled.
        if (firstRun.exchange(false)) (void)waitUntil([&] { return engine.stopRequested.load(); });
    };
    startUpdateCheck(worker, true);
    ASSERT_TRUE(waitUntil([&] { return worker.activeBranch.load() == 0; }));
    requestRerun(worker);
    startUpdateCheck(worker, true);
    startUpdateCheck(worker, false);  // the last request decides the re-run's full check
    ASSERT_TRUE(waitForIdle());

    // The cancelled check never reached the second branch.
    EXPECT_EQ(worker.results[0].status.load(), BranchStatus::ServerUnavailable);
    EXPECT_EQ(worker.results[1].status.load(), BranchStatus::Pending);
    EXPECT_EQ(copyStatusText(worker.engine), L"LURRA 1.44 — server unavailable\nKORDAN TVX — ?");

    // The ticks that follow: one new check, however many requests came.
    EXPECT_TRUE(startPendingRerun(worker));
    EXPECT_FALSE(startPendingRerun(worker));
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(startPendingRerun(worker));
    const std::vector<RunSeen> runs = runsSeen();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].verifyAll);
    EXPECT_EQ(runs[1].branch, 0);
    EXPECT_FALSE(runs[1].verifyAll);
    EXPECT_EQ(runs[2].branch, 1);
    EXPECT_EQ(worker.results[1].status.load(), BranchStatus::ServerUnavailable);
    EXPECT_EQ(recorder.checkStarts, 4);  // three starts and the re-run; the try-again answer is no start
}

TEST_F(Worker, BothFoldersEmptyEndAtOnceAndCannotBePlayed) {
    folders.emplace(std::array<WString, kBranchCount>{});
    startUpdateCheck(worker, false);
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(runsSeen().empty());
    EXPECT_EQ(copyStatusText(worker.engine), L"LURRA 1.44 — folder not set\nKORDAN TVX — folder not set");
    const std::optional<ResultsHandOff> handOff = takeFinishedResults(worker);
    ASSERT_TRUE(handOff);
    EXPECT_EQ(handOff->playEnabled, (std::array<bool, kBranchCount>{false, false}));
    EXPECT_FALSE(takeFinishedResults(worker));  // once per check
}

TEST_F(Worker, ExceptionInTheSecondBranchLeavesTheFirstBranchAlone) {
    const struct {
        Language language;
        const wchar_t* statusText;
        bool standardException;
    } cases[] = {
        {Language::English, L"Update check failed (internal error).", true},
        {Language::Russian, L"Не удалось проверить обновления (внутренняя ошибка).", false},
    };
    ASSERT_TRUE(makeTwoGameFolders());
    finalState = kStateFinished;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statusText);
        LanguageScope language(c.language);
        duringRun = [&](int branch, UpdateEngine&) {
            if (branch == 1 && c.standardException) throw std::runtime_error("broken");
            if (branch == 1) throw 42;
        };
        startUpdateCheck(worker, false);
        ASSERT_TRUE(waitForIdle());
        EXPECT_EQ(worker.results[0].status.load(), BranchStatus::Ready);
        EXPECT_EQ(worker.results[1].status.load(), BranchStatus::ServerUnavailable);
        EXPECT_EQ(worker.activeBranch.load(), -1);
        EXPECT_TRUE(worker.resultsReady.load());
        EXPECT_EQ(copyStatusText(worker.engine), c.statusText);
    }
}

TEST_F(Worker, NewsIsFetchedOncePerCheck) {
    ASSERT_TRUE(makeTwoGameFolders());
    for (const bool firstRunGetsNews : {true, false}) {
        SCOPED_TRACE(firstRunGetsNews ? "first run got the news" : "first run got none");
        UpdateWorker fresh;
        fresh.runBranch = worker.runBranch;
        seen.clear();
        duringRun = [&](int branch, UpdateEngine& engine) {
            if (branch == 0 && firstRunGetsNews) {
                std::lock_guard<std::mutex> guard(engine.lock);
                engine.newsText = L"[news]";
            }
        };
        startUpdateCheck(fresh, false);
        ASSERT_TRUE(waitUntil([&] { return !fresh.workerRunning.load(); }));
        const std::vector<RunSeen> runs = runsSeen();
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_TRUE(runs[0].fetchNews);
        EXPECT_EQ(runs[1].fetchNews, !firstRunGetsNews);
    }
}

TEST_F(Worker, ThreadThatCannotStartLeavesNothingRunning) {
    folders.emplace(std::array<WString, kBranchCount>{});
    const ThreadStarter real = worker.startThread;
    worker.startThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    EXPECT_THROW(startUpdateCheck(worker, false), std::system_error);
    EXPECT_FALSE(worker.workerRunning.load());
    // Still marked as running, the next start would only have asked for a re-run.
    worker.startThread = real;
    startUpdateCheck(worker, false);
    ASSERT_TRUE(waitForIdle());
    EXPECT_FALSE(worker.rerunPending);
    EXPECT_EQ(worker.results[0].status.load(), BranchStatus::FolderNotSet);
}

TEST_F(Worker, ComIsApartmentThreadedInsideARun) {
    ASSERT_TRUE(makeTwoGameFolders());
    HRESULT created = E_FAIL;
    HRESULT otherModel = E_FAIL;
    duringRun = [&](int branch, UpdateEngine&) {
        if (branch != 0) return;
        IShellLinkW* link = nullptr;
        created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link));
        if (link) link->Release();
        otherModel = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(otherModel)) CoUninitialize();
    };
    startUpdateCheck(worker, false);
    ASSERT_TRUE(waitForIdle());
    EXPECT_EQ(created, S_OK);
    EXPECT_EQ(otherModel, RPC_E_CHANGED_MODE);
}

TEST_F(Worker, HandOffEnablesPlayByStatusAndGameExecutable) {
    ASSERT_TRUE(makeCompleteGameFolder(dir / L"game"));
    ASSERT_TRUE(makeFolders(dir / L"no exe"));
    const struct {
        BranchStatus status;
        bool gameThere;
        bool playable;
    } cases[] = {
        {BranchStatus::Ready, false, true},
        {BranchStatus::ServerUnavailable, true, true},
        {BranchStatus::ServerUnavailable, false, false},
        {BranchStatus::NotPublished, true, true},
        {BranchStatus::NotPublished, false, false},
        {BranchStatus::WorkTree, true, true},
        {BranchStatus::WorkTree, false, false},
        {BranchStatus::NotGameFolder, true, false},
        {BranchStatus::SharedFolder, true, false},
        {BranchStatus::FolderNotSet, true, false},
        {BranchStatus::Pending, true, false},
        {BranchStatus::Checking, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "status " << static_cast<int>(c.status) << ", game " << c.gameThere);
        const WString folder = c.gameThere ? dir / L"game" : dir / L"no exe";
        FoldersScope scope({folder, folder});
        worker.results[1].status.exchange(c.status);
        worker.results[0].status.exchange(BranchStatus::Ready);
        worker.resultsReady.exchange(true);
        worker.engine.dialogPending.exchange(true);
        EXPECT_FALSE(takeFinishedResults(worker));  // not while a run waits for an answer
        worker.engine.dialogPending.exchange(false);
        const std::optional<ResultsHandOff> handOff = takeFinishedResults(worker);
        ASSERT_TRUE(handOff);
        EXPECT_TRUE(handOff->playEnabled[0]);
        EXPECT_EQ(handOff->playEnabled[1], c.playable);
    }
}

TEST_F(Worker, ExitWaitsForTheWorkerOnlySoLong) {
    ASSERT_TRUE(makeTwoGameFolders());
    for (const bool runStalls : {false, true}) {
        SCOPED_TRACE(runStalls ? "stalled run" : "run that stops");
        std::atomic<bool> release{false};
        UpdateWorker exiting;
        exiting.runBranch = [&](int, UpdateEngine& engine) {
            (void)waitUntil([&] { return release.load() || (!runStalls && engine.stopRequested.load()); });
        };
        startUpdateCheck(exiting, false);
        ASSERT_TRUE(waitUntil([&] { return exiting.activeBranch.load() == 0; }));
        EXPECT_EQ(stopUpdateWorker(exiting, std::chrono::milliseconds(300)), !runStalls);
        EXPECT_EQ(exiting.workerRunning.load(), runStalls);
        EXPECT_EQ(exiting.thread.joinable(), runStalls);
        release.store(true);  // the stalled run ends; the destructor waits for it
    }
}

}  // namespace
