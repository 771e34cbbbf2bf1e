// The launcher's self-update with real processes: a runner program copied into a scratch launcher
// folder stands in for the running launcher and calls selfUpdate against the test server, so its
// own executable is renamed aside, replaced and perhaps restored; a stand-in program published as
// the new launcher signals, ends at once, or neither.
#include "update/self_update_win.h"

#include <windows.h>

#include <cctype>
#include <gtest/gtest.h>
#include <optional>

#include "base/constants.h"
#include "base/handles_win.h"
#include "crypto/sha256_win.h"
#include "support/child_process_win.h"
#include "support/file_holder_win.h"
#include "support/test_env_win.h"
#include "support/test_server_win.h"
#include "support/update_run_fixture_win.h"
#include "support/wait_until.h"
#include "update/hand_over_win.h"
#include "update/launcher_record.h"

namespace {

constexpr DWORD kRunnerLimitMs = 60000;
constexpr int kEventWaitMs = 15000;
// Long enough for a slow Wine start of the stand-in, short enough for the time-out case.
constexpr int kGenerousWaitMs = 20000;
constexpr int kShortWaitMs = 700;

WString helperPath(const char* name) {
    return winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/" + name);
}

std::string upperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class SelfUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started()) << server.startFailure();
        ASSERT_TRUE(CreateDirectoryW(launcherDir.c_str(), nullptr));
        const auto runner = readFileBytes(helperPath("self_update_runner.exe"));
        const auto standIn = readFileBytes(helperPath("stand_in_launcher.exe"));
        ASSERT_TRUE(runner && standIn);
        runnerBytes = *runner;
        standInBytes = *standIn;
        ASSERT_TRUE(writeFileBytes(runnerPath, runnerBytes));
        ASSERT_TRUE(server.publish("patch/lurra/latest_launcher.exe", standInBytes));
        standInHash = sha256FileHex(helperPath("stand_in_launcher.exe"));
        ASSERT_EQ(standInHash.size(), 64u);
    }

    void setMode(const std::string& mode) {
        ASSERT_TRUE(writeFileBytes(launcherDir + L"\\stand_in_mode.txt", mode));
    }

    // Starts the runner in the launcher folder and returns its exit code (-1: it did not end).
    int runRunner(const std::string& checksum, int handOverWaitMs) {
        const ChildProcess runner = startChild(runnerPath,
                                               L"\"" + runnerPath + L"\" " + utf8(branchUrl) + L" " +
                                                   utf8(checksum) + L" " + std::to_wstring(handOverWaitMs),
                                               ChildOptions(launcherDir));
        const std::optional<DWORD> code = waitForChild(runner, kRunnerLimitMs);
        return code ? static_cast<int>(*code) : -1;
    }

    static std::wstring utf8(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

    std::string events() const { return readFileBytes(launcherDir + L"\\events.log").value_or(""); }

    bool waitForEvent(const std::string& line) const {
        return waitUntil([&] { return events().find(line) != std::string::npos; }, kEventWaitMs, 20);
    }

    std::optional<std::string> launcherFile(const wchar_t* name) const {
        return readFileBytes(launcherDir + L"\\" + name);
    }

    ScratchDir dir;
    TestServer server{dir / L"server"};
    WString launcherDir = dir / L"launcher";
    WString runnerPath = launcherDir + L"\\VarnholdLauncher.exe";
    std::string branchUrl = server.httpsUrl(0) + "/patch/lurra";
    std::string runnerBytes;
    std::string standInBytes;
    std::string standInHash;
};

TEST_F(SelfUpdate, NewLauncherThatSignalsTakesOverAndTheBackupIsRemoved) {
    setMode("healthy");
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 0);
    // The stand-in notes its signal after giving it: the old launcher may have ended before the note.
    EXPECT_TRUE(waitForEvent("stand-in healthy -ignoreinstances -postupdate\nsignalled\n")) << events();
    // The old launcher went on at the signal, not at the end of the new process or a time-out.
    EXPECT_EQ(events().find("healthy ended"), std::string::npos);
    EXPECT_EQ(events().find("returned"), std::string::npos);
    // The process ended at once from the worker thread, with no static clean-up under a live thread.
    EXPECT_EQ(events().find("static clean-up"), std::string::npos);
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), standInBytes);
    // The backup is the old process's own image until that process has ended, so neither side can
    // delete it at the hand-over (as on Windows); the next update removes it before it renames.
    EXPECT_EQ(launcherFile(L"old_launcher.bak"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"latest_launcher.download"));
    EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe"), 1);
    EXPECT_TRUE(waitForEvent("healthy ended\n"));
}

TEST_F(SelfUpdate, NewLauncherThatEndsAtOnceIsReplacedByTheBackupWhichStartsAgain) {
    setMode("exits");
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 0);
    ASSERT_TRUE(waitForEvent("runner -ignoreinstances\n")) << events();
    EXPECT_NE(events().find("stand-in exits -ignoreinstances -postupdate\n"), std::string::npos);
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"old_launcher.bak"));
    EXPECT_FALSE(launcherFile(L"latest_launcher.download"));
    // Only the restarted launcher, which returns from its entry, runs static clean-up.
    EXPECT_LT(events().find("runner -ignoreinstances\n"), events().find("static clean-up"));

    // The restored launcher's next check finds the same release and leaves it; the team's fixed
    // build, with another checksum, is taken as usual.
    const LauncherRecord record = parseLauncherRecord(launcherFile(L"failed_launcher.txt").value_or(""));
    ASSERT_EQ(record.failed.size(), 1u);
    EXPECT_EQ(record.failed[0].checksum, standInHash);
    EXPECT_EQ(record.failed[0].attempts, 1);
    EXPECT_EQ(record.pending, "");
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 3);
    EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe"), 1);
    const std::string fixedBuild = standInBytes + "fixed";
    ASSERT_TRUE(server.publish("patch/lurra/latest_launcher.exe", fixedBuild));
    ASSERT_TRUE(writeFileBytes(dir / L"fixed.exe", fixedBuild));
    setMode("healthy");
    EXPECT_EQ(runRunner(sha256FileHex(dir / L"fixed.exe"), kGenerousWaitMs), 0);
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), fixedBuild);
}

// The restored launcher is started without the system's error dialog too: a dialog would hold the
// ending process, and with it the instance mutex, until someone closed it.
TEST_F(SelfUpdate, RestoredLauncherThatCannotBeStartedLeavesNoProcessBehind) {
    setMode("unstartable");
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 0);
    EXPECT_NE(events().find("stand-in unstartable -ignoreinstances -postupdate\nbackup made unstartable\n"),
              std::string::npos)
        << events();
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), "this is not a program\n");
    EXPECT_EQ(launcherFile(L"runner.moved"), runnerBytes);
    EXPECT_EQ(events().find("runner -ignoreinstances"), std::string::npos);
    EXPECT_EQ(events().find("static clean-up"), std::string::npos);
}

TEST_F(SelfUpdate, SignalLeftInTheEventByAnotherProcessDoesNotPassForTheNewLauncher) {
    UniqueKernelHandle stale(CreateEventW(nullptr, TRUE, TRUE, kUpdateHealthyEventName));
    ASSERT_TRUE(stale);
    setMode("exits");
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 0);
    ASSERT_TRUE(waitForEvent("runner -ignoreinstances\n")) << events();
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"old_launcher.bak"));
}

// Past the wait the new launcher is still running and unproven: the old one waits on, and rolls
// back once it ends without its report.
TEST_F(SelfUpdate, NewLauncherThatNeitherSignalsNorEndsInTimeIsWaitedForUntilItEnds) {
    // A backup left by an earlier update goes first; the running launcher takes its place.
    ASSERT_TRUE(writeFileBytes(launcherDir + L"\\old_launcher.bak", "an older launcher"));
    setMode("silent 2500");
    EXPECT_EQ(runRunner(standInHash, kShortWaitMs), 0);
    ASSERT_TRUE(waitForEvent("runner -ignoreinstances\n")) << events();
    EXPECT_LT(events().find("silent ended"), events().find("runner -ignoreinstances")) << events();
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"old_launcher.bak"));
    EXPECT_FALSE(launcherFile(L"latest_launcher.download"));
}

TEST_F(SelfUpdate, DownloadThatIsNotThePublishedLauncherChangesNothing) {
    struct Case {
        const char* name;
        std::string checksum;
        std::string rules;
        bool partialDownloadStays;
    };
    const Case cases[] = {
        {"another hash", std::string(64, 'a'), "[]", false},
        {"the right hash in upper case", upperCase(standInHash), "[]", false},
        {"an empty checksum", "", "[]", false},
        {"download refused", standInHash,
         R"([{"path": "/patch/lurra/latest_launcher.exe", "action": "status", "status": 404}])", false},
        {"download cut short", standInHash,
         R"([{"path": "/patch/lurra/latest_launcher.exe", "action": "cut", "after": 1000}])", true},
        // Stopped at 64 MiB, long before the server would give up.
        {"endless body", standInHash,
         R"([{"path": "/patch/lurra/latest_launcher.exe", "action": "endless", "limit": 100000000}])", true},
    };
    setMode("healthy");
    ASSERT_TRUE(writeFileBytes(launcherDir + L"\\old_launcher.bak", "an older launcher"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFileBytes(launcherDir + L"\\events.log", ""));
        ASSERT_TRUE(server.setRules(c.rules));
        EXPECT_EQ(runRunner(c.checksum.empty() ? "\"\"" : c.checksum, kGenerousWaitMs), 3);
        EXPECT_NE(events().find("returned false state 3\n"), std::string::npos);
        EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
        EXPECT_EQ(launcherFile(L"old_launcher.bak"), "an older launcher");
        EXPECT_EQ(events().find("stand-in"), std::string::npos);
        // A cut download stays for the next attempt to overwrite; it is never run.
        const auto partial = launcherFile(L"latest_launcher.download");
        EXPECT_EQ(partial.has_value(), c.partialDownloadStays);
        EXPECT_LE(partial.value_or("").size(), 64u * 1024 * 1024);
    }
}

// A launcher that broke off in every attempt of one run is taken up in the next where its copy
// ends: the second run asks only for the rest, and the whole file passes the hash.
TEST_F(SelfUpdate, LauncherDownloadThatBrokeOffGoesOnInTheNextRunWhereTheCopyEnds) {
    setMode("healthy");
    ASSERT_TRUE(server.setRules(
        R"([{"path": "/patch/lurra/latest_launcher.exe", "action": "cut", "after": 20000, "times": 3}])"));
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 3);
    const size_t kept = launcherFile(L"latest_launcher.download").value_or("").size();
    EXPECT_EQ(kept, 60000u) << "each attempt goes on where the one before broke off";
    ASSERT_TRUE(server.setRules("[]"));
    EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 0);
    EXPECT_TRUE(waitForEvent("stand-in healthy -ignoreinstances -postupdate\nsignalled\n")) << events();
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), standInBytes);
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().range, "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(requests.back().status, 206);
    EXPECT_TRUE(waitForEvent("healthy ended\n"));
}

TEST_F(SelfUpdate, UnwritableLauncherFolderRefusesTheFirstRenameAndNothingChanges) {
    setMode("healthy");
    // Files that exist can still be written in an immutable folder, so the download and the log
    // get through and the rename of the running executable is the first step that fails.
    ASSERT_TRUE(writeFileBytes(launcherDir + L"\\latest_launcher.download", ""));
    ASSERT_TRUE(writeFileBytes(launcherDir + L"\\events.log", ""));
    {
        ImmutableFolder locked(launcherDir);
        if (!locked.active()) GTEST_SKIP() << locked.whyNot();
        EXPECT_EQ(runRunner(standInHash, kGenerousWaitMs), 3);
    }
    EXPECT_NE(events().find("returned false state 3\n"), std::string::npos) << events();
    EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe"), 1);
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"old_launcher.bak"));
    EXPECT_EQ(events().find("stand-in"), std::string::npos);
}

TEST_F(SelfUpdate, PublishedFileThatCannotBeStartedIsReplacedByTheBackup) {
    const std::string notAProgram = "this is not an executable\n";
    ASSERT_TRUE(server.publish("patch/lurra/latest_launcher.exe", notAProgram));
    ASSERT_TRUE(writeFileBytes(dir / L"not_a_program", notAProgram));
    const std::string hash = sha256FileHex(dir / L"not_a_program");
    EXPECT_EQ(runRunner(hash, kGenerousWaitMs), 3);
    EXPECT_NE(events().find("returned false state 3\n"), std::string::npos) << events();
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"old_launcher.bak"));
    EXPECT_FALSE(launcherFile(L"latest_launcher.download"));
}

// Whole checks of a launcher without a window (the runner with runner.txt: every start, restored
// ones too, runs the update worker's runs of both branches) against releases whose published
// launcher is the stand-in, failing in each way a new launcher can fail. Every scenario must end
// with the old launcher working at the module path, the game files updated, no loop, and the log
// saying what happened.
class HandOver : public UpdateRun {
protected:
    // The old launcher's hand-over wait; every failure below outlives it.
    static constexpr int kWaitMs = 600;
    static constexpr int kScenarioLimitMs = 60000;
    // After the last expected check, a launcher update that loops would start again at once.
    static constexpr DWORD kNoLoopMs = 600;

    void SetUp() override {
        UpdateRun::SetUp();
        const auto runner = readFileBytes(helperPath("self_update_runner.exe"));
        const auto standIn = readFileBytes(helperPath("stand_in_launcher.exe"));
        ASSERT_TRUE(runner && standIn);
        runnerBytes = *runner;
        standInBytes = *standIn;
        addReleaseFile("Scripts/a.lua", "a");
        addReleaseFile("Imgs/b.dds", std::string(3000, 'b'));
    }

    // Publishes release 1.44 on a branch with the stand-in, made distinct by `marker`, as launcher
    // 1.17; returns the published launcher's bytes.
    std::string publishLauncher(const std::string& branch, const std::string& marker) {
        const std::string bytes = standInBytes + marker;
        const WString file = dir / utf8ToWide(branch + ".exe");
        EXPECT_TRUE(writeFileBytes(file, bytes));
        std::string log;
        EXPECT_TRUE(runReleaseBuilder(
            {"--clean", "--out", server.rootUnix() + "/patch/" + branch, "--version", "144", "--source",
             unixPathFromWine(source), "--launcher", unixPathFromWine(file), "--launcher-version", "117"},
            &log))
            << log;
        return bytes;
    }

    // A launcher folder with the runner as the launcher, and a game folder per branch.
    void makeLauncher(const std::wstring& name, size_t branches, const char* secondBranch = "/ktvx") {
        home = dir / name;
        games.clear();
        ASSERT_TRUE(CreateDirectoryW(home.c_str(), nullptr));
        ASSERT_TRUE(writeFileBytes(home + L"\\VarnholdLauncher.exe", runnerBytes));
        std::string settings = "wait " + std::to_string(kWaitMs) + "\n";
        for (const std::string& url : setup.serverBaseUrls) settings += "server " + url + "\n";
        const char* paths[] = {"/lurra", secondBranch};
        for (size_t i = 0; i < branches; ++i) {
            games.push_back(newGameFolder(name + L"_game"));
            settings += std::string("branch ") + paths[i] + " " + wideToUtf8(games.back()) + "\n";
        }
        ASSERT_TRUE(writeFileBytes(home + L"\\runner.txt", settings));
    }

    void setMode(const std::string& mode) const {
        ASSERT_TRUE(writeFileBytes(home + L"\\stand_in_mode.txt", mode));
    }

    // The player starts whatever lies at the module path.
    [[nodiscard]] ChildProcess startLauncher() const {
        const WString exe = home + L"\\VarnholdLauncher.exe";
        ChildProcess started = startChild(exe, L"\"" + exe + L"\"", ChildOptions(home));
        EXPECT_TRUE(started);
        return started;
    }

    [[nodiscard]] std::string events() const { return readFileBytes(home + L"\\events.log").value_or(""); }
    [[nodiscard]] std::string runLog() const { return readFileBytes(home + L"\\launcher.log").value_or(""); }
    [[nodiscard]] int count(const std::string& line) const {
        const std::string all = "\n" + events();
        int found = 0;
        for (size_t at = 0; (at = all.find("\n" + line, at)) != std::string::npos; ++at) ++found;
        return found;
    }
    [[nodiscard]] bool waitFor(const std::string& line, int times = 1) const {
        return waitUntil([&] { return count(line) >= times; }, kScenarioLimitMs, 20);
    }
    [[nodiscard]] std::optional<std::string> file(const wchar_t* name) const {
        return readFileBytes(home + L"\\" + name);
    }
    [[nodiscard]] LauncherRecord record() const {
        return parseLauncherRecord(file(L"failed_launcher.txt").value_or(""));
    }

    // The stand-in that waits to be killed, killed as an antivirus would.
    void killStandIn() const {
        ASSERT_TRUE(waitFor("pid ")) << events();
        const std::string all = events();
        const size_t at = all.find("\npid ") + 5;
        const DWORD pid = static_cast<DWORD>(std::stoul(all.substr(at)));
        UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(process);
        ASSERT_TRUE(TerminateProcess(process.get(), 1));
        WaitForSingleObject(process.get(), 10000);
    }

    WString home;
    std::vector<WString> games;
    std::string runnerBytes;
    std::string standInBytes;
};

TEST_F(HandOver, EveryWayANewLauncherFailsEndsWithTheOldOneWorkingAndTheGameUpdated) {
    const std::string x = publishLauncher("lurra", "X");
    (void)publishLauncher("ktvx", "Y");
    enum class Then {
        Nothing,
        KillTheNewOne,
        StartAgain,
        RenameBackThenStart,
        RecordCannotBeWritten,
        HoldTheRunningFile,
        StartAfterTheCrash
    };
    struct Scenario {
        const char* name;
        std::string mode;
        size_t branches = 1;
        int stopAt = -1;  // SelfUpdateStep where the old launcher is killed
        Then then = Then::Nothing;
        int runnerStarts = 2;  // the first, and the one restored
        int standInStarts = 1;
        std::vector<std::string> failed = {"X"};
        const char* logged = "the new launcher ended before its window; old one restored: yes";
        const char* secondBranch = "/ktvx";
        int downloads = -1;  // of the published launcher; -1: not counted
    };
    const auto step = [](SelfUpdateStep s) { return static_cast<int>(s); };
    const Scenario scenarios[] = {
        {"ends at once", "exits"},
        {"shows an error box past the wait", "fatal 1200"},
        {"crashes", "crash"},
        {"crashes into a dump slower than the wait", "slow-dump 1200"},
        {"is killed while the old one waits", "wait-kill", 1, -1, Then::KillTheNewOne},
        {"two branches announce two failing launchers", "exits", 2, -1, Then::Nothing, 3, 2, {"X", "Y"}},
        // Without the record the restored launcher would take the same release again.
        {"the record cannot be written",
         "exits",
         1,
         -1,
         Then::RecordCannotBeWritten,
         1,
         0,
         {},
         "launcher update: not taken, the launcher record cannot be written"},
        // Another program holds the running file (an antivirus scan): the rename fails, nothing is
        // recorded, and the next run of the same check does not fetch the same launcher again.
        {"the running launcher cannot be renamed, two runs of one check",
         "exits",
         2,
         -1,
         Then::HoldTheRunningFile,
         1,
         0,
         {},
         "launcher update: not taken, this launcher was tried once in this run",
         "/lurra",
         1},
        // The old launcher killed at each step; the player starts whatever is at the module path.
        {"old one killed once the download is verified", "exits", 1, step(SelfUpdateStep::Downloaded),
         Then::StartAgain, 3},
        {"old one killed once the attempt is recorded",
         "exits",
         1,
         step(SelfUpdateStep::Recorded),
         Then::StartAgain,
         2,
         0,
         {"X"},
         "an unfinished hand-over left no backup; its mark is cleared"},
        // No launcher at the module path: the player (the README says so) renames the backup back.
        {"old one killed between the two renames",
         "exits",
         1,
         step(SelfUpdateStep::RunningMovedAside),
         Then::RenameBackThenStart,
         2,
         0,
         {"X"},
         "an unfinished hand-over left no backup; its mark is cleared"},
        {"old one killed with the new one in place, not started",
         "fatal 0",
         1,
         step(SelfUpdateStep::NewInPlace),
         Then::StartAgain,
         2,
         1,
         {"X"},
         "never came up, the backup is back in place and started"},
        // The old one gone, the new one restores the backup and starts it itself.
        {"old one killed once the new one runs",
         "fatal 300",
         1,
         step(SelfUpdateStep::NewStarted),
         Then::Nothing,
         2,
         1,
         {"X"},
         "after a launcher update: the restored launcher started"},
        // The old one gone, the new one's crash handler puts the backup back; the player starts it.
        {"old one killed, then the new one crashes",
         "crash",
         1,
         step(SelfUpdateStep::NewStarted),
         Then::StartAfterTheCrash,
         2,
         1,
         {"X"},
         "an unfinished hand-over left no backup; its mark is cleared"},
        {"old one killed once the new one has ended",
         "fatal 0",
         1,
         step(SelfUpdateStep::NewEnded),
         Then::StartAgain,
         2,
         1,
         {"X"},
         "this launcher failed before its window; the backup is back"},
        {"old one killed before the restored start",
         "exits",
         1,
         step(SelfUpdateStep::RolledBack),
         Then::StartAgain,
         2,
         1,
         {"X"},
         "old one restored: yes"},
    };
    int number = 0;
    for (const Scenario& c : scenarios) {
        SCOPED_TRACE(c.name);
        makeLauncher(L"scenario" + std::to_wstring(++number), c.branches, c.secondBranch);
        setMode(c.mode);
        std::optional<FileHolder> holder;
        if (c.then == Then::HoldTheRunningFile) {
            holder.emplace(home + L"\\VarnholdLauncher.exe", L"r", L"r");
            ASSERT_TRUE(holder->holding());
        }
        const int downloadsBefore = server.requestCount("/patch/lurra/latest_launcher.exe");
        if (c.then == Then::RecordCannotBeWritten) {
            ASSERT_TRUE(CreateDirectoryW((home + L"\\failed_launcher.txt.new").c_str(), nullptr));
        }
        if (c.stopAt >= 0) {
            ASSERT_TRUE(writeFileBytes(home + L"\\runner_stop.txt", std::to_string(c.stopAt)));
        }
        const ChildProcess first = startLauncher();
        if (c.then == Then::KillTheNewOne) killStandIn();
        if (c.then == Then::StartAgain || c.then == Then::RenameBackThenStart ||
            c.then == Then::StartAfterTheCrash) {
            EXPECT_EQ(waitForChild(first, kScenarioLimitMs), std::optional<DWORD>(kStoppedForTestsExitCode));
            if (c.then == Then::StartAfterTheCrash) {
                EXPECT_TRUE(waitUntil(
                    [&] {
                        return runLog().find("crash: the dump could not be written") != std::string::npos;
                    },
                    kScenarioLimitMs));
            }
            if (c.then == Then::RenameBackThenStart) {
                EXPECT_FALSE(file(L"VarnholdLauncher.exe"));
                EXPECT_TRUE(file(L"old_launcher.bak") == runnerBytes);
                EXPECT_TRUE(file(L"latest_launcher.download") == x);
                ASSERT_TRUE(MoveFileW((home + L"\\old_launcher.bak").c_str(),
                                      (home + L"\\VarnholdLauncher.exe").c_str()));
            }
            (void)startLauncher();
        }
        // Each scenario runs whatever became of the ones before: one that fails says so and the
        // next one goes on.
        if (!waitFor("check done")) {
            ADD_FAILURE() << "no check done:\n" << events();
            continue;
        }
        Sleep(kNoLoopMs);
        EXPECT_EQ(count("check done"), 1) << events();
        EXPECT_EQ(count("runner"), c.runnerStarts) << events();
        EXPECT_EQ(count("stand-in"), c.standInStarts) << events();
        if (c.downloads >= 0) {
            EXPECT_EQ(server.requestCount("/patch/lurra/latest_launcher.exe") - downloadsBefore, c.downloads);
        }
        EXPECT_TRUE(file(L"VarnholdLauncher.exe") == runnerBytes)
            << "not the old launcher at the module path";
        EXPECT_FALSE(file(L"old_launcher.bak"));
        for (const WString& game : games) EXPECT_TRUE(holdsRelease(game)) << wideToUtf8(game);
        const LauncherRecord left = record();
        EXPECT_EQ(left.pending, "");
        EXPECT_EQ(left.failed.size(), c.failed.size());
        for (const std::string& which : c.failed) {
            const FailedLauncher* entry =
                findFailedLauncher(left, sha256FileHex(dir / (which == "X" ? L"lurra.exe" : L"ktvx.exe")));
            EXPECT_TRUE(entry && entry->attempts == 1) << which;
        }
        const std::string log = runLog();
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        if (!c.failed.empty()) {
            EXPECT_NE(
                log.find("launcher update: not taken, it ended before its window here less than a day ago "
                         "(attempt 1 of 3)"),
                std::string::npos)
                << log;
        }
    }
}

// A new launcher that is merely slow (a virus scan holds its first start) comes up after the old
// one's wait has run out: it stays, and the record forgets it.
TEST_F(HandOver, ANewLauncherThatComesUpAfterTheWaitIsKept) {
    const std::string x = publishLauncher("lurra", "X");
    makeLauncher(L"late", 1);
    setMode("late 1500");
    // The old launcher ends at the report.
    EXPECT_EQ(waitForChild(startLauncher(), kScenarioLimitMs), std::optional<DWORD>(0));
    ASSERT_TRUE(waitFor("signalled")) << events();
    Sleep(kNoLoopMs);
    EXPECT_EQ(count("runner"), 1) << events();
    EXPECT_TRUE(file(L"VarnholdLauncher.exe") == x) << "not the new launcher at the module path";
    const LauncherRecord left = record();
    EXPECT_EQ(left.pending, "");
    EXPECT_TRUE(left.failed.empty()) << formatLauncherRecord(left);
    EXPECT_NE(runLog().find("launcher update: the new launcher took over"), std::string::npos) << runLog();
}

// Killed once (an antivirus that stopped its first start), the same release is taken again at a
// start a day later, and then comes up.
TEST_F(HandOver, ALauncherThatFailedOnceThroughAKillIsTakenAgainADayLater) {
    const std::string x = publishLauncher("lurra", "X");
    makeLauncher(L"retry", 1);
    setMode("wait-kill");
    (void)startLauncher();
    killStandIn();
    ASSERT_TRUE(waitFor("check done")) << events();
    EXPECT_TRUE(file(L"VarnholdLauncher.exe") == runnerBytes) << "not the old launcher at the module path";
    EXPECT_TRUE(holdsRelease(games[0]));

    // A day later.
    LauncherRecord aged = record();
    ASSERT_EQ(aged.failed.size(), 1u);
    aged.failed[0].lastAttemptSeconds -= kLauncherRetrySeconds;
    ASSERT_TRUE(writeFileBytes(home + L"\\failed_launcher.txt", formatLauncherRecord(aged)));
    setMode("healthy");
    EXPECT_EQ(waitForChild(startLauncher(), kScenarioLimitMs), std::optional<DWORD>(0));
    ASSERT_TRUE(waitFor("signalled")) << events();
    EXPECT_EQ(count("runner"), 3) << events();
    EXPECT_TRUE(file(L"VarnholdLauncher.exe") == x) << "not the new launcher at the module path";
    EXPECT_TRUE(record().failed.empty());
    EXPECT_NE(runLog().find("trying again a launcher that ended before its window here (attempt 2 of 3)"),
              std::string::npos)
        << runLog();
}

}  // namespace
