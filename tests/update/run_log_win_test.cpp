// What an update run writes to the run log, read back from the real file in the launcher folder.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/run_log.h"
#include "support/update_run_fixture_win.h"

namespace {

class RunLogOfUpdate : public UpdateRun {
protected:
    void TearDown() override {
        closeRunLog();
        UpdateRun::TearDown();
    }

    [[nodiscard]] std::vector<std::string> logLines() const {
        const std::string log = readFileBytes(launcher + L"\\launcher.log").value_or("");
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(log.substr(start, end - start));
        }
        return lines;
    }
};

TEST_F(RunLogOfUpdate, TellsAFallbackRunWithOneBadFileInOrderAndInEnglish) {
    addReleaseFile("Scripts/a.lua", "a");
    addReleaseFile("Imgs/bad.dds", std::string(5000, 'b'));
    publish({"--corrupt-object", "Imgs/bad.dds"});
    // Nothing listens on port 1: the primary refuses the connection.
    setup.serverBaseUrls[0] = "https://localhost:1/patch";
    const std::string fallbackUrl = setup.serverBaseUrls[1];
    LanguageScope russian(kRussian);
    ASSERT_TRUE(openRunLog(launcher));
    UpdateEngine engine;
    prepare(engine, newGameFolder(L"game"));
    {
        WindowStandIn window(engine, {Answer::Decline});
        EXPECT_EQ(runUpdate(engine, setup), kStateDownloadFailed);
    }
    closeRunLog();

    const std::string expected[] = {
        "descriptor https://localhost:1/patch/lurra/latest.txt: error 12029 ERROR_WINHTTP_CANNOT_CONNECT",
        "descriptor " + fallbackUrl + "/lurra/latest.txt: HTTP 200, signature valid, game_version 144,",
        "decision: check the files (server 144, installed 0, full check no)",
        "file \"Imgs/bad.dds\": file failed verification (SHA-256 of " + fallbackUrl + "/lurra/144/files/",
        "outcome: state 11, \"The game was not updated and may not work correctly:\\nsome files could not be "
        "downloaded.\"",
    };
    const std::vector<std::string> lines = logLines();
    size_t next = 0;
    std::string previousTime;
    for (const std::string& line : lines) {
        ASSERT_GT(line.size(), 25u) << line;
        EXPECT_GE(line.substr(0, 24), previousTime) << line;
        previousTime = line.substr(0, 24);
        const size_t text = line.find("] ");
        if (next < std::size(expected) && line.compare(text + 2, expected[next].size(), expected[next]) == 0)
            ++next;
    }
    EXPECT_EQ(next, std::size(expected))
        << "missing, or out of order: " << expected[std::min(next, size_t{4})];
}

TEST_F(RunLogOfUpdate, AFolderThatCannotBeWrittenLeavesTheRunAsItIs) {
    addReleaseFile("Scripts/a.lua", "a");
    publish();
    ImmutableFolder frozen(launcher);
    if (!frozen.active()) GTEST_SKIP() << frozen.whyNot();
    EXPECT_FALSE(openRunLog(launcher));
    UpdateEngine engine;
    const WString game = newGameFolder(L"game");
    prepare(engine, game);
    EXPECT_EQ(runUpdate(engine, setup), kStateFinished);
    expectOutcome(engine, kStateFinished, kUpdatedMessage, currentLanguage());
    EXPECT_TRUE(holdsRelease(game));
    EXPECT_FALSE(fileExists(launcher + L"\\launcher.log"));
}

}  // namespace
