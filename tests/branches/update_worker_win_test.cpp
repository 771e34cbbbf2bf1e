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

// Stand-in update runs over two game folders that pass every folder test: each run records what
// the worker prepared, then does what the test asks.
class Worker : public testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : {L"lurra", L"ktvx"}) {
            ASSERT_TRUE(makeCompleteGameFolder(dir / name) &&
                        writeFileBytes(dir / name + L"\\Mss23.dll", "lib"));
        }
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

    [[nodiscard]] bool checkToEnd(UpdateWorker& checked, bool verify = false) {
        startUpdateCheck(checked, verify);
        return waitUntil([&] { return !checked.workerRunning.load(); });
    }

    std::vector<RunSeen> runsSeen() {
        std::lock_guard<std::mutex> guard(seenLock);
        return std::exchange(seen, {});
    }

    LanguageScope english{Language::English};
    ScratchDir dir;
    FoldersScope folders{{dir / L"lurra", dir / L"ktvx"}};
    UiRecorder recorder;
    std::function<void(int, UpdateEngine&)> duringRun;
    int32_t finalState = kStateNoDescriptor;
    std::mutex seenLock;
    std::vector<RunSeen> seen;
    UpdateWorker worker;  // last: destroyed first, while what its runs use still exists
};

TEST_F(Worker, RerunRequestsDuringACheckGiveExactlyOneNewCheck) {
    std::atomic<bool> firstRun{true};
    duringRun = [&](int, UpdateEngine& engine) {  // the first run lasts until the check is cancelled
        if (firstRun.exchange(false)) (void)waitUntil([&] { return engine.stopRequested.load(); });
    };
    startUpdateCheck(worker, true);
    ASSERT_TRUE(waitUntil([&] { return worker.activeBranch.load() == 0; }));
    requestRerun(worker);
    startUpdateCheck(worker, true);
    startUpdateCheck(worker, false);  // the last request decides the re-run's full check
    ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }));
    EXPECT_EQ(worker.results[1].status.load(), BranchStatus::Pending);  // never reached
    EXPECT_EQ(copyStatusText(worker.engine), L"LURRA 1.44 — server unavailable\nKORDAN TVX — ?");

    EXPECT_TRUE(startPendingRerun(worker));  // the ticks that follow
    EXPECT_FALSE(startPendingRerun(worker));
    ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }));
    EXPECT_FALSE(startPendingRerun(worker));
    const std::vector<RunSeen> runs = runsSeen();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].verifyAll);
    EXPECT_TRUE(runs[1].branch == 0 && !runs[1].verifyAll && runs[2].branch == 1);
    EXPECT_EQ(recorder.checkStarts, 4);  // three starts and the re-run; the try-again answer is no start
}

TEST_F(Worker, ExceptionInTheSecondBranchLeavesTheFirstBranchAlone) {
    finalState = kStateFinished;
    const std::pair<Language, const wchar_t*> cases[] = {
        {Language::English, L"Update check failed (internal error)."},
        {Language::Russian, L"Не удалось проверить обновления (внутренняя ошибка)."}};
    for (const auto& [language, statusText] : cases) {
        SCOPED_TRACE(static_cast<int>(language));
        LanguageScope scope(language);
        duringRun = [&](int branch, UpdateEngine&) {
            if (branch == 1 && language == Language::English) throw std::runtime_error("broken");
            if (branch == 1) throw 42;
        };
        ASSERT_TRUE(checkToEnd(worker));
        EXPECT_EQ(worker.results[0].status.load(), BranchStatus::Ready);
        EXPECT_EQ(worker.results[1].status.load(), BranchStatus::ServerUnavailable);
        EXPECT_EQ(worker.activeBranch.load(), -1);
        EXPECT_TRUE(worker.resultsReady.load());
        EXPECT_EQ(copyStatusText(worker.engine), statusText);
    }
}

TEST_F(Worker, NewsIsFetchedOncePerCheck) {
    for (const bool firstRunGetsNews : {true, false}) {
        SCOPED_TRACE(firstRunGetsNews);
        UpdateWorker fresh;
        fresh.runBranch = worker.runBranch;
        duringRun = [&](int branch, UpdateEngine& engine) {
            std::lock_guard<std::mutex> guard(engine.lock);
            if (branch == 0 && firstRunGetsNews) engine.newsText = L"[news]";
        };
        ASSERT_TRUE(checkToEnd(fresh));
        const std::vector<RunSeen> runs = runsSeen();
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_TRUE(runs[0].fetchNews);
        EXPECT_EQ(runs[1].fetchNews, !firstRunGetsNews);
    }
}

TEST_F(Worker, ThreadThatCannotStartLeavesNothingRunning) {
    FoldersScope empty({L"", L""});
    const ThreadStarter real = std::exchange(worker.startThread, [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    EXPECT_THROW(startUpdateCheck(worker, false), std::system_error);
    EXPECT_FALSE(worker.workerRunning.load());
    worker.startThread = real;  // were it still marked as running, this would only ask for a re-run
    ASSERT_TRUE(checkToEnd(worker));
    EXPECT_EQ(copyStatusText(worker.engine), L"LURRA 1.44 — folder not set\nKORDAN TVX — folder not set");
    EXPECT_FALSE(worker.rerunPending);
}

TEST_F(Worker, ComIsApartmentThreadedInsideARun) {
    HRESULT created = E_FAIL;
    HRESULT otherModel = E_FAIL;
    duringRun = [&](int, UpdateEngine&) {
        IShellLinkW* link = nullptr;
        created = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link));
        if (link) link->Release();
        otherModel = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(otherModel)) CoUninitialize();
    };
    ASSERT_TRUE(checkToEnd(worker));
    EXPECT_EQ(created, S_OK);
    EXPECT_EQ(otherModel, RPC_E_CHANGED_MODE);
}

TEST_F(Worker, HandOffEnablesPlayByStatusAndGameExecutable) {
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
        {BranchStatus::Checking, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "status " << static_cast<int>(c.status) << ", game " << c.gameThere);
        FoldersScope scope({dir / L"lurra", c.gameThere ? dir / L"ktvx" : dir / L"no exe"});
        worker.results[0].status.exchange(BranchStatus::Ready);
        worker.results[1].status.exchange(c.status);
        worker.resultsReady.exchange(true);
        worker.engine.dialogPending.exchange(true);
        EXPECT_FALSE(takeFinishedResults(worker));  // not while a run waits for an answer
        worker.engine.dialogPending.exchange(false);
        const std::optional<ResultsHandOff> handOff = takeFinishedResults(worker);
        ASSERT_TRUE(handOff);
        EXPECT_EQ(handOff->playEnabled, (std::array<bool, kBranchCount>{true, c.playable}));
        EXPECT_FALSE(takeFinishedResults(worker));  // once per check
    }
}

// A run stalled inside a download does not hold the exit; the worker record outlives it.
TEST_F(Worker, ExitWaitsForAStalledRunOnlySoLong) {
    std::atomic<bool> release{false};
    UpdateWorker exiting;
    exiting.runBranch = [&](int, UpdateEngine&) { (void)waitUntil([&] { return release.load(); }); };
    startUpdateCheck(exiting, false);
    ASSERT_TRUE(waitUntil([&] { return exiting.activeBranch.load() == 0; }));
    EXPECT_FALSE(stopUpdateWorker(exiting, std::chrono::milliseconds(300)));
    EXPECT_TRUE(exiting.workerRunning.load());
    release.store(true);  // the destructor waits for the run to end
}

}  // namespace
