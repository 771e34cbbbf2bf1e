#include "branches/update_worker_win.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <stdexcept>
#include <system_error>

#include "branches/branch_fixture_win.h"

namespace {

struct RunSeen {
    int branch;
    bool verifyAll;
    bool fetchNews;
};

// Stand-in update runs: each records what the worker prepared, then does what the test asks. The
// records are read once the worker has ended.
class Worker : public BranchTest {
protected:
    void SetUp() override {
        BranchTest::SetUp();
        worker.runBranch = [this](int branch, UpdateEngine& engine) {
            seen.push_back({branch, engine.verifyAll, engine.fetchNews});
            if (duringRun) duringRun(branch, engine);
            engine.state.exchange(finalState);
        };
    }

    std::function<void(int, UpdateEngine&)> duringRun;
    int32_t finalState = kStateNoDescriptor;
    std::vector<RunSeen> seen;
};

TEST_F(Worker, RerunRequestsDuringACheckGiveExactlyOneNewCheck) {
    duringRun = [&](int, UpdateEngine& engine) {  // the first run lasts until the check is cancelled
        if (seen.size() == 1) (void)waitUntil([&] { return engine.stopRequested.load(); }, kWaitMs);
    };
    startUpdateCheck(worker, true);
    ASSERT_TRUE(waitUntil([&] { return worker.activeBranch.load() == 0; }, kWaitMs));
    requestRerun(worker);
    startUpdateCheck(worker, true);
    startUpdateCheck(worker, false);  // the last request decides the re-run's full check
    ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }, kWaitMs));
    EXPECT_EQ(worker.results[1].status.load(), BranchStatus::Pending);  // never reached
    EXPECT_EQ(copyStatusText(worker.engine), L"LURRA 1.44 — server unavailable\nKORDAN TVX — ?");

    EXPECT_TRUE(startPendingRerun(worker));  // the ticks that follow
    EXPECT_FALSE(startPendingRerun(worker));
    ASSERT_TRUE(waitUntil([&] { return !worker.workerRunning.load(); }, kWaitMs));
    EXPECT_FALSE(startPendingRerun(worker));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].verifyAll && !seen[1].verifyAll);
    EXPECT_TRUE(seen[1].branch == 0 && seen[2].branch == 1);
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
        ASSERT_TRUE(checkToEnd());
        EXPECT_EQ(worker.results[0].status.load(), BranchStatus::Ready);
        EXPECT_EQ(worker.results[1].status.load(), BranchStatus::ServerUnavailable);
        EXPECT_EQ(worker.activeBranch.load(), -1);
        EXPECT_TRUE(worker.resultsReady.load());
        EXPECT_EQ(copyStatusText(worker.engine), statusText);
    }
}

TEST_F(Worker, NewsIsFetchedOncePerCheck) {
    for (const bool firstRunGetsNews : {false, true}) {
        SCOPED_TRACE(firstRunGetsNews);
        duringRun = [&](int branch, UpdateEngine& engine) {
            std::lock_guard<std::mutex> guard(engine.lock);
            if (branch == 0 && firstRunGetsNews) engine.newsText = L"[news]";
        };
        seen.clear();
        ASSERT_TRUE(checkToEnd());
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_TRUE(seen[0].fetchNews);
        EXPECT_EQ(seen[1].fetchNews, !firstRunGetsNews);
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
    ASSERT_TRUE(checkToEnd());
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
    ASSERT_TRUE(checkToEnd());
    EXPECT_EQ(created, S_OK);
    EXPECT_EQ(otherModel, RPC_E_CHANGED_MODE);
}

TEST_F(Worker, HandOffEnablesPlayByStatusAndGameExecutable) {
    using S = BranchStatus;
    ASSERT_TRUE(makeFolders(dir / L"no exe"));
    // Each status: whether play is enabled with Tharnvl2.exe in the folder, and without it.
    const std::tuple<BranchStatus, bool, bool> cases[] = {
        {S::Ready, true, true},     {S::ServerUnavailable, true, false}, {S::NotPublished, true, false},
        {S::WorkTree, true, false}, {S::NotGameFolder, false, false},    {S::SharedFolder, false, false},
        {S::Checking, false, false}};
    for (const auto& [status, withExe, withoutExe] : cases) {
        for (const bool exe : {true, false}) {
            SCOPED_TRACE(testing::Message() << "status " << static_cast<int>(status) << ", exe " << exe);
            FoldersScope scope({games[0], exe ? games[1] : dir / L"no exe"});
            worker.results[0].status.exchange(S::Ready);
            worker.results[1].status.exchange(status);
            worker.resultsReady.exchange(true);
            worker.engine.dialogPending.exchange(true);
            EXPECT_FALSE(takeFinishedResults(worker));  // not while a run waits for an answer
            worker.engine.dialogPending.exchange(false);
            const std::optional<ResultsHandOff> handOff = takeFinishedResults(worker);
            ASSERT_TRUE(handOff);
            EXPECT_EQ(handOff->playEnabled,
                      (std::array<bool, kBranchCount>{true, exe ? withExe : withoutExe}));
            EXPECT_FALSE(takeFinishedResults(worker));  // once per check
        }
    }
}

// A worker that does not end (a run stalled inside a network read) does not hold the exit.
TEST_F(Worker, ExitWaitsForAStalledRunOnlySoLong) {
    startHeldCheck();
    EXPECT_FALSE(stopUpdateWorker(worker, std::chrono::milliseconds(300)));
    EXPECT_TRUE(worker.workerRunning.load());
}

}  // namespace
