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
#include "support/test_env_win.h"
#include "support/test_server_win.h"

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
    EXPECT_EQ(launcherFile(L"failed_launcher.txt"), standInHash);
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

TEST_F(SelfUpdate, NewLauncherThatNeitherSignalsNorEndsKeepsRunningBesideTheBackup) {
    // A backup left by an earlier update goes first; the running launcher takes its place.
    ASSERT_TRUE(writeFileBytes(launcherDir + L"\\old_launcher.bak", "an older launcher"));
    setMode("silent 4000");
    EXPECT_EQ(runRunner(standInHash, kShortWaitMs), 0);
    EXPECT_EQ(events().find("silent ended"), std::string::npos) << "the stand-in ended before the runner";
    EXPECT_EQ(events().find("static clean-up"), std::string::npos);
    EXPECT_EQ(launcherFile(L"VarnholdLauncher.exe"), standInBytes);
    EXPECT_EQ(launcherFile(L"old_launcher.bak"), runnerBytes);
    EXPECT_FALSE(launcherFile(L"latest_launcher.download"));
    EXPECT_TRUE(waitForEvent("silent ended\n"));
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

}  // namespace
