// The whole update run killed at random moments: the headless update tool of this build updates a
// game folder from release 1.43 to 1.44 (bundle and single downloads, transfers slowed down so that
// kills land everywhere) and is terminated after a seeded random delay. Whatever the moment, every
// file of the folder must then hold its old or its new content, never a part of either, and a
// following run must complete the update.
#include <windows.h>

#include <cstdio>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <random>

#include "base/handles_win.h"
#include "support/child_process_win.h"
#include "support/update_run_fixture_win.h"

namespace {

constexpr int kRounds = 20;
constexpr uint32_t kSeed = 20261208;
constexpr DWORD kToolLimitMs = 120000;

// A file's old (1.43) and new (1.44) content; no old content means the file is new in 1.44.
struct FileVersions {
    std::optional<std::string> oldContent;
    std::string newContent;
};

class KillAnywhere : public UpdateRun {
protected:
    struct Started {
        ChildProcess tool;
        WString outPath;
    };

    Started startTool(const WString& game, const std::wstring& extra) {
        const WString tool = winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/update_tool.exe");
        std::wstring commandLine =
            L"\"" + tool + L"\" --folder \"" + game + L"\" --server " + utf8ToWide(setup.serverBaseUrls[0]) +
            L" --key \"" + winePathFromUnix(testPublicKeyPath()) +
            L"\" --language en --retry-pause-ms 20 --progress-ms 20 --no-news " + extra;
        Started started;
        started.outPath = game + L".out";
        ChildOptions options;
        options.outputPath = started.outPath;
        started.tool = startChild(tool, commandLine, options);
        return started;
    }

    // Runs the tool to its end; returns its output (stdout and stderr).
    std::string runToolToTheEnd(const WString& game, const std::wstring& extra, DWORD& exitCode) {
        Started started = startTool(game, extra);
        if (!started.tool) return "(not started)";
        exitCode = waitForChild(started.tool, kToolLimitMs).value_or(99);
        started.tool = ChildProcess();
        return readFileBytes(started.outPath).value_or("");
    }

    // Release 1.44: 90 small files (most change, so the bundle is used) and 6 larger ones fetched
    // singly. Release 1.43, the folder's starting point: a third of the files as in 1.44, a third
    // with other content, a third missing, and one file that 1.44 no longer lists.
    void SetUp() override {
        UpdateRun::SetUp();
        if (HasFatalFailure()) return;
        std::mt19937 rng(kSeed);
        auto content = [&rng](size_t size) {
            std::string bytes(size, '\0');
            for (char& c : bytes) c = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
            return bytes;
        };
        for (int i = 0; i < 96; ++i) {
            char name[40];
            const bool large = i >= 90;
            std::snprintf(name, sizeof name, large ? "Imgs/large%02d.png" : "Scripts/s%03d.lua", i);
            FileVersions versions;
            versions.newContent = content(large ? 150000 + 60000 * (i - 90) : 100 + 83 * i);
            if (i % 3 == 0) versions.oldContent = versions.newContent;
            if (i % 3 == 1) versions.oldContent = content(large ? 90000 : 50 + 97 * i);
            addReleaseFile(name, versions.newContent);
            files[name] = versions;
        }
        publish({"--bundle-max-size", "16384"});
    }

    WString oldFolder(int round) {
        const WString game = newGameFolder(L"game" + std::to_wstring(round));
        for (const auto& [path, versions] : files) {
            if (versions.oldContent) writeBelow(game, path, *versions.oldContent);
        }
        writeBelow(game, "Scripts/dropped.lua", "only in 1.43");
        EXPECT_TRUE(writeFileBytes(game + L"\\VarnholdLauncher.ini", "143"));
        EXPECT_TRUE(writeFileBytes(game + L"\\launcher_unins.ini", oldList));
        return game;
    }

    // Every listed file old or new, the record files old or new, the unlisted file untouched.
    void expectOnlyOldOrNew(const WString& game) {
        for (const auto& [path, versions] : files) {
            SCOPED_TRACE(path);
            const std::optional<std::string> now = readFileBytes(game + L"\\" + utf8ToWide(path));
            if (now == versions.newContent) continue;
            EXPECT_EQ(now, versions.oldContent) << "neither the old nor the new content";
        }
        EXPECT_EQ(readFileBytes(game + L"\\Scripts\\dropped.lua"), std::string("only in 1.43"));
        const auto version = readFileBytes(game + L"\\VarnholdLauncher.ini");
        EXPECT_TRUE(version == std::string("143") || version == std::string("144"))
            << version.value_or("(none)");
        const auto list = readFileBytes(game + L"\\launcher_unins.ini");
        EXPECT_TRUE(list == oldList || list == uninstallListOfRelease()) << list.value_or("(none)");
    }

    std::map<std::string, FileVersions> files;
    const std::string oldList = "Scripts/dropped.lua\n";
};

// The last progress line's state, "[6 downloading] ..." -> "6 downloading".
std::string lastState(const std::string& output) {
    const size_t open = output.rfind('[');
    const size_t close = open == std::string::npos ? open : output.find(']', open);
    return close == std::string::npos ? "before any progress" : output.substr(open + 1, close - open - 1);
}

TEST_F(KillAnywhere, EveryFileIsOldOrNewAfterAKillAndTheNextRunCompletes) {
    // Transfers slowed to about 1 MB/s so that a run lasts long enough for kills to land inside it.
    ASSERT_TRUE(server.setRules(
        R"([{"prefix":"/patch/lurra/144/files/","action":"drip","chunk":16384,"interval":0.015}])"));
    DWORD exitCode = 0;
    const WString timed = oldFolder(-1);
    const DWORD start = GetTickCount();
    const std::string output = runToolToTheEnd(timed, L"", exitCode);
    const DWORD wholeRunMs = GetTickCount() - start;
    ASSERT_EQ(exitCode, 0u) << output;
    ASSERT_TRUE(holdsRelease(timed));
    ASSERT_NE(output.find("All files updated successfully!"), std::string::npos) << output;

    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<DWORD> delay(0, wholeRunMs + wholeRunMs / 20);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const WString game = oldFolder(round);
        const DWORD killAfterMs = delay(rng);
        Started started = startTool(game, L"");
        ASSERT_TRUE(started.tool);
        // Killed after the drawn delay; a run that has ended by then is simply waited for.
        const bool ended = waitForChild(started.tool, killAfterMs).has_value();
        started.tool = ChildProcess();
        std::cout << "round " << round << ": " << (ended ? "ended by itself before " : "killed after ")
                  << killAfterMs << " ms of " << wholeRunMs << ", last state "
                  << lastState(readFileBytes(started.outPath).value_or("")) << std::endl;

        expectOnlyOldOrNew(game);

        // verifyAll, so a run killed after its end still checks every file.
        const std::string completion = runToolToTheEnd(game, L"--verify-all", exitCode);
        EXPECT_EQ(exitCode, 0u) << completion;
        EXPECT_TRUE(completion.find("All files updated successfully!") != std::string::npos ||
                    completion.find("All files checked and up to date!") != std::string::npos)
            << completion;
        EXPECT_TRUE(holdsRelease(game));
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdLauncher.ini"), std::string("144"));
        EXPECT_EQ(readFileBytes(game + L"\\launcher_unins.ini"), uninstallListOfRelease());
    }
}

}  // namespace
