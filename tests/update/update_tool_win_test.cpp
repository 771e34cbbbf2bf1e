// The headless update tool end to end: the real update_tool.exe of this build against the test
// server's primary and fallback listeners, its JSON outcome compared byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/handles_win.h"
#include "support/child_process_win.h"
#include "support/file_holder_win.h"
#include "support/update_run_fixture_win.h"

namespace {

constexpr DWORD kToolLimitMs = 120000;

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class UpdateTool : public UpdateRun {
protected:
    // Runs the tool with these arguments after the servers and the key; its standard output and
    // error go to files.
    ToolResult runTool(const WString& game, const std::vector<std::wstring>& arguments) {
        const WString tool = winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/update_tool.exe");
        std::wstring commandLine = L"\"" + tool + L"\" --folder \"" + game + L"\" --server " +
                                   utf8ToWide(setup.serverBaseUrls[0]) + L" --server " +
                                   utf8ToWide(setup.serverBaseUrls[1]) + L" --retry-pause-ms 20";
        for (const std::wstring& argument : arguments) commandLine += L" " + argument;

        ChildOptions options;
        options.outputPath = dir / L"tool.out";
        options.errorPath = dir / L"tool.err";
        ToolResult result;
        const std::optional<DWORD> code = waitForChild(startChild(tool, commandLine, options), kToolLimitMs);
        if (code) result.exitCode = static_cast<int>(*code);
        const WString& outPath = options.outputPath;
        const WString& errPath = options.errorPath;
        result.out = readFileBytes(outPath).value_or("");
        result.err = readFileBytes(errPath).value_or("");
        return result;
    }

    std::wstring keyArgument() const { return L"--key \"" + winePathFromUnix(testPublicKeyPath()) + L"\""; }
};

TEST_F(UpdateTool, UpdatesThroughTheFallbackAndPrintsTheOutcomeAsJson) {
    addReleaseFile("Scripts/a.lua", "a");
    addReleaseFile("Imgs/b.png", std::string(40000, 'b'));
    ASSERT_TRUE(writeFileBytes(dir / L"news.txt", "T \"quoted\"\n"));
    publish({"--news-v2", unixPathFromWine(dir / L"news.txt"), "--display-version", "1.44 test"});
    primaryDown();
    const WString game = newGameFolder(L"game");
    const ToolResult result = runTool(game, {keyArgument(), L"--language en", L"--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "{\"state\":7,\"message\":\"All files updated successfully!\",\"questions\":[],"
              "\"news\":\"T \\\"quoted\\\"\\n\",\"notPublished\":false,\"launcherUpdate\":\"\","
              "\"displayVersion\":\"1.44 test\",\"filesDone\":2,\"filesTotal\":2}\n");
    // Progress lines go to standard error with --json; the last one is always printed.
    EXPECT_NE(result.err.find("[7 finished] files 2/2 "), std::string::npos) << result.err;
    EXPECT_TRUE(holdsRelease(game));
    EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), "144");
}

TEST_F(UpdateTool, AnswersFailureListsFromItsFlagAndReportsEveryQuestion) {
    addReleaseFile("Scripts/a.lua", "a");
    publish();
    const WString game = newGameFolder(L"game");
    installRelease(game, "");
    FileHolder holder(game + L"\\Scripts\\a.lua", L"rw", L"-");
    ASSERT_TRUE(holder.holding());
    const ToolResult result =
        runTool(game, {L"--language ru", L"--answer no,cancel", L"--json", L"--no-news"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const std::string question =
        "\"Не удалось проверить следующие файлы:\\n\\nScripts/a.lua (ошибка: не удалось открыть для проверки)"
        "\\n\\n\"";
    EXPECT_EQ(
        result.out,
        "{\"state\":10,\"message\":\"Игра не была обновлена и может работать неправильно:\\nчасть локальных "
        "файлов не удалось проверить!\",\"questions\":[" +
            question + "," + question +
            "],\"news\":\"\",\"notPublished\":false,\"launcherUpdate\":\"\",\"displayVersion\":\"\","
            "\"filesDone\":0,\"filesTotal\":1}\n");
    EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt", primary()), 1);
    EXPECT_EQ(server.requestCount("/patch/lurra/144/checksums.txt", fallback()), 1);
    EXPECT_EQ(requestsStartingWith("/patch/lurra/news", primary()), 0);
}

TEST_F(UpdateTool, TrustsOnlyTheKeyItIsGiven) {
    addReleaseFile("Scripts/a.lua", "a");
    publish();
    const std::string otherKey = unixPathFromWine(dir / L"other_public.pem");
    ASSERT_EQ(runUnixShell("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 2>/dev/null | "
                           "openssl pkey -pubout -out " +
                           shellQuote(otherKey)),
              0);
    const WString game = newGameFolder(L"game");
    const ToolResult rejected =
        runTool(game, {L"--key \"" + winePathFromUnix(otherKey) + L"\"", L"--language en", L"--json"});
    EXPECT_EQ(rejected.exitCode, 1);
    EXPECT_EQ(rejected.out.rfind("{\"state\":8,\"message\":\"Could not connect to the update server!\"", 0),
              0u)
        << rejected.out;
    EXPECT_FALSE(fileExists(game + L"\\Scripts\\a.lua"));

    const ToolResult accepted = runTool(game, {keyArgument(), L"--language en", L"--log"});
    EXPECT_EQ(accepted.exitCode, 0);
    EXPECT_NE(accepted.out.find("final state: 7 (finished)\nmessage: All files updated successfully!\n"),
              std::string::npos)
        << accepted.out;
    // The run log's lines, as the launcher writes them to launcher.log.
    EXPECT_NE(accepted.err.find("] update run ended: state 7 after 1 server attempts, "), std::string::npos)
        << accepted.err;
    EXPECT_EQ(rejected.err.find("] update run"), std::string::npos);
}

// Test builds embed a successor key in the second slot, as a launcher built during a key rotation:
// a release signed with it alone is taken by the tool as built, in a process of its own.
TEST_F(UpdateTool, TakesReleasesSignedWithTheSuccessorKeyItWasBuiltWith) {
    addReleaseFile("Scripts/a.lua", "a");
    // The later --key replaces the fixture's.
    publish({"--key", VARNHOLD_TEST_SUCCESSOR_PRIVATE_KEY});
    const WString game = newGameFolder(L"game");
    const ToolResult underTheFirstKey = runTool(game, {keyArgument(), L"--language en", L"--json"});
    EXPECT_EQ(underTheFirstKey.out.rfind("{\"state\":8,", 0), 0u) << underTheFirstKey.out;
    const ToolResult asBuilt = runTool(game, {L"--language en", L"--json"});
    EXPECT_EQ(asBuilt.exitCode, 0) << asBuilt.out << asBuilt.err;
    EXPECT_TRUE(holdsRelease(game));
}

TEST_F(UpdateTool, BranchWithoutAReleaseIsReportedAsNotPublished) {
    const ToolResult result =
        runTool(newGameFolder(L"game"), {L"--language en", L"--json", L"--branch /ktvx"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("\"state\":8,"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"notPublished\":true"), std::string::npos) << result.out;
    EXPECT_EQ(server.requestCount("/patch/ktvx/latest.txt"), 2);
}

TEST_F(UpdateTool, RefusesArgumentsItDoesNotKnow) {
    for (const std::wstring bad : {L"--answer maybe", L"--language de", L"--stall-ms soon", L"--bogus"}) {
        SCOPED_TRACE(std::string(bad.begin(), bad.end()));
        const ToolResult result = runTool(newGameFolder(L"game"), {bad});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("usage: update_tool.exe"), std::string::npos);
    }
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
