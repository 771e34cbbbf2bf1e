// The launcher's window through whole update checks against the test update server: what the
// player sees change while a check runs, the run's in-window question, and the buttons that start
// checks. A real launcher process, real input, screenshots and the files on disk.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "base/handles_win.h"
#include "support/file_holder_win.h"
#include "ui/update_test_fixture_win.h"

namespace {

// The server hands out each file's copy slowly enough for the progress to be seen.
const char kSlowObjects[] = R"([{"prefix": "/patch/lurra/144/files/", "action": "drip", "chunk": 65536,
    "interval": 0.04}])";

// One check that installs a release with news, against the test rating service, and what the
// screen then offers.
TEST_F(UpdatingLauncher, ACheckInstallsTheReleaseAndTheScreenShowsItsNewsAndTheRating) {
    const BrowserStandIn browser(scratch / L"opened.log");
    ASSERT_TRUE(browser.installed());
    makeReleaseFiles();
    ASSERT_TRUE(writeFileBytes(
        scratch / L"news_v2.txt",
        "[news]\ntitle_en=First\ntext_en=One\ndate=01.12.2026\nurl_en=https://localhost:8445/news/1\n"
        "[news]\ntitle_en=Second\ntext_en=Two\ndate=02.12.2026\nurl_en=https://localhost:8445/news/2\n"
        "[news]\ntitle_en=Third\ntext_en=Three\ndate=03.12.2026\nurl_en=file:///C:/windows/system32/"
        "calc.exe\n"));
    publish(144, {"--news-v2", unixPathFromWine(scratch / L"news_v2.txt")});
    ASSERT_TRUE(server->setRules(kSlowObjects));
    startWith(settingsText(game, L"", Language::English));
    {
        SCOPED_TRACE("the total bar fills while the files come in; the branch ends ready to play");
        const IntRect& bar = layout.totalBar;
        EXPECT_TRUE(waitUntil(
            [&] {
                const Rgb fill = pixel(shot("downloading"), bar.left + 4, bar.top + bar.height / 2);
                return fill.r > 120 && fill.r > fill.b + 50;  // the bronze fill
            },
            30000))
            << "no progress seen";
        ASSERT_TRUE(waitUntil([&] { return releaseInstalled(); }, 90000)) << "the release was not installed";
        EXPECT_TRUE(waitUntil([&] { return playLooksEnabled(0, "play-enabled"); }, 10000));
        EXPECT_FALSE(playLooksEnabled(1, "second-play"));  // no folder for the second branch
        expectStatusShown(L"LURRA 1.44 — All files updated successfully!\nKORDAN TVX — folder not set",
                          "ready");
        EXPECT_EQ(readFileBytes(game + L"\\VarnholdChannel.ini"),
                  std::optional<std::string>("# Varnhold install marker - do not edit\nchannel=lurra\n"));
    }
    {
        SCOPED_TRACE("the rating panel shows the service's rows, the first in gold, one difficulty per tab");
        // "Normal" at start: five rows. "Easy" has twelve, of which ten show; "Hard" comes without
        // rows and "Impossible" as 404: both say that there are no results yet.
        const struct {
            size_t tab;
            int rows, messageLines;
        } tabs[] = {{1, 5, 0}, {0, 10, 0}, {2, 0, 1}, {3, 0, 1}};
        for (const auto& t : tabs) {
            SCOPED_TRACE(testing::Message() << "tab " << t.tab);
            if (t.tab != 1) {
                ASSERT_TRUE(click(enclosing(layout.rating.tabs[t.tab])));
            }
            RatingLook look;
            EXPECT_TRUE(waitUntil(
                [&] {
                    look = ratingLook("rating-" + std::to_string(t.tab));
                    return look.rows == t.rows && look.messageLines == t.messageLines &&
                           look.firstGold == (t.rows > 0);
                },
                10000))
                << look.rows << " rows, first gold " << look.firstGold << ", " << look.messageLines
                << " message lines";
        }
    }
    {
        SCOPED_TRACE("news cards open their web links and only those");
        ASSERT_TRUE(click(layout.news[1]));
        ASSERT_TRUE(browser.waitForCount(1));
        ASSERT_TRUE(click(layout.news[2]));  // no web address: not for the shell
        ASSERT_TRUE(click(layout.news[0]));
        ASSERT_TRUE(browser.waitForCount(2));
        Sleep(500);
        EXPECT_EQ(browser.opened(), (std::vector<std::string>{"https://localhost:8445/news/2",
                                                              "https://localhost:8445/news/1"}));
    }
    {
        SCOPED_TRACE("the verify button checks every file of the current release");
        const int manifestsBefore = requests("/patch/lurra/144/checksums.txt");
        ASSERT_TRUE(click(layout.gearButton));
        ASSERT_TRUE(waitForGearPanel(true, "gear"));
        ASSERT_TRUE(click(layout.verifyButton));
        // A normal check of a current release stops at the descriptor; the full check reads the
        // manifest and checks every file.
        EXPECT_TRUE(
            waitUntil([&] { return requests("/patch/lurra/144/checksums.txt") > manifestsBefore; }, 30000));
        expectStatusShown(L"LURRA 1.44 — All files checked and up to date!\nKORDAN TVX — folder not set",
                          "verified");
        EXPECT_TRUE(playLooksEnabled(0, "verified-play"));
    }
}

TEST_F(UpdatingLauncher, ALockedFileAsksTryAgainChecksAgainAndContinueAnywayFinishesTheRest) {
    makeReleaseFiles(4, 64 << 10);
    publish(144);
    // Another program holds a listed file open without sharing: it cannot be checked.
    FileHolder holder(game + L"\\Imgs\\data.bin", L"rw", L"-");
    ASSERT_TRUE(holder.holding());
    startWith(settingsText(game, L"", Language::English));
    ASSERT_TRUE(waitUntil([&] { return questionShown("question"); }, 60000)) << "the question did not open";
    // Only the answers take input: the close button does nothing now.
    ASSERT_TRUE(click(layout.closeButton));
    Sleep(500);
    EXPECT_FALSE(launcher.waitForExit(0).has_value());

    // Try again: a new check (the descriptor again) and, with the file still locked, the question.
    const int descriptorsBefore = requests("/patch/lurra/latest.txt");
    ASSERT_TRUE(click(layout.tryAgain));
    EXPECT_TRUE(waitUntil([&] { return requests("/patch/lurra/latest.txt") > descriptorsBefore; }, 30000));
    ASSERT_TRUE(waitUntil([&] { return questionShown("second-question"); }, 60000));

    // Continue anyway: the run goes on with the files it could check.
    ASSERT_TRUE(click(layout.continueAnyway));
    EXPECT_TRUE(waitUntil([&] { return !questionShown("answered"); }, 10000));
    EXPECT_TRUE(waitUntil(
        [&] {
            return readFileBytes(game + L"\\Imgs\\mod_3.dds") ==
                   readFileBytes(release + L"\\Imgs\\mod_3.dds");
        },
        60000));

    // With the file free again, a full check from the gear panel brings the folder to the release.
    ASSERT_TRUE(holder.release());
    const int manifestsBefore = requests("/patch/lurra/144/checksums.txt");
    ASSERT_TRUE(click(layout.gearButton));
    ASSERT_TRUE(waitForGearPanel(true, "gear"));
    // The verify button takes a click once the run has ended.
    EXPECT_TRUE(waitUntil(
        [&] {
            return click(layout.verifyButton) &&
                   waitUntil([&] { return requests("/patch/lurra/144/checksums.txt") > manifestsBefore; },
                             1000);
        },
        60000));
    EXPECT_TRUE(waitUntil([&] { return releaseInstalled(); }, 60000));
    expectStatusShown(L"LURRA 1.44 — All files checked and up to date!\nKORDAN TVX — folder not set",
                      "ready");
}

TEST_F(UpdatingLauncher, ANewerLauncherTakesOverTheWindowAndTheOldOneEnds) {
    makeReleaseFiles(2, 64 << 10);
    publish(144);
    // The newer launcher: this build with a marker appended (a PE file runs with bytes after its
    // end), announced as version 1.17 by the first descriptor the server hands out; later checks
    // get the current one, so the new launcher does not update itself again.
    const WString published = scratch / L"latest_launcher.exe";
    const auto build = readFileBytes(launcher.exePath());
    ASSERT_TRUE(build.has_value());
    const std::string marker = "VARNHOLD-UPDATED-LAUNCHER";
    ASSERT_TRUE(writeFileBytes(published, *build + marker));
    publish(144, {"--launcher", unixPathFromWine(published), "--launcher-version", "117"}, "lurra_new");
    ASSERT_TRUE(server->setRules(R"([
        {"path": "/patch/lurra/latest.txt", "action": "file", "file": "patch/lurra_new/latest.txt", "times": 1},
        {"path": "/patch/lurra/latest.sig", "action": "file", "file": "patch/lurra_new/latest.sig", "times": 1},
        {"path": "/patch/lurra/latest_launcher.exe", "action": "file", "file": "patch/lurra_new/latest_launcher.exe"}
    ])"));

    // Started without waiting for its window: it may hand over before its first frame shows.
    ASSERT_TRUE(
        writeFileBytes(launcher.folder() + L"\\launcher.ini", settingsText(game, L"", Language::English)));
    ASSERT_TRUE(launcher.start());
    const DWORD oldId = launcher.processId();
    // The old launcher hands over and ends with 0 once the new window is up.
    EXPECT_EQ(launcher.waitForExit(60000), std::optional<DWORD>(0));
    HWND newWindow = nullptr;
    DWORD newId = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            newWindow = findLauncherWindow();
            if (newWindow) GetWindowThreadProcessId(newWindow, &newId);
            return newWindow && newId != oldId && IsWindowVisible(newWindow);
        },
        30000));
    UniqueKernelHandle newProcess(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, newId));
    const auto replaced = readFileBytes(launcher.exePath());
    EXPECT_TRUE(replaced && replaced->size() > marker.size() &&
                replaced->compare(replaced->size() - marker.size(), marker.size(), marker) == 0)
        << "the launcher file was not replaced by the published one";
    EXPECT_TRUE(waitUntil([&] { return !fileExists(launcher.folder() + L"\\old_launcher.bak"); }, 10000));
    // The new launcher goes on with the game files.
    EXPECT_TRUE(waitUntil([&] { return releaseInstalled(); }, 60000));
    EXPECT_EQ(allLauncherWindows().size(), 1u);
    PostMessageW(newWindow, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(newProcess.get(), 15000) != WAIT_OBJECT_0) TerminateProcess(newProcess.get(), 1);
}

TEST_F(UpdatingLauncher, ADownloadStalledOnTheServerDoesNotHoldTheExit) {
    makeReleaseFiles(2, 64 << 10);
    publish(144);
    ASSERT_TRUE(server->setRules(R"([{"prefix": "/patch/lurra/144/files/", "action": "stall", "after": 10,
        "seconds": 120}])"));
    startWith(settingsText(game, L"", Language::English));
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const ServerRequest& request : server->requests()) {
                if (request.path.rfind("/patch/lurra/144/files/", 0) == 0) return true;
            }
            return false;
        },
        30000));
    const ULONGLONG closing = GetTickCount64();
    ASSERT_TRUE(click(layout.closeButton));
    const std::optional<DWORD> exitCode = launcher.waitForExit(20000);
    const ULONGLONG took = GetTickCount64() - closing;
    EXPECT_EQ(exitCode, std::optional<DWORD>(0));
    // The worker is given 2 s to notice the stop; a read stalled on the network does not, and the
    // process ends without it.
    EXPECT_LT(took, 8000u);
    // Nothing half-written took a game file's name.
    EXPECT_FALSE(fileExists(game + L"\\Imgs\\mod_0.dds"));
}

// The player closes the old window while the new launcher is starting, which then fails (the
// stand-in launcher: its window never comes up): the old launcher's window goes, but the process
// stays until the hand-over has ended, puts itself back and starts again.
TEST_F(UpdatingLauncher, ClosingTheOldWindowDuringTheHandOverStillEndsWithTheOldLauncherBack) {
    makeReleaseFiles(2, 64 << 10);
    const WString published = scratch / L"latest_launcher.exe";
    const std::string standIn = readFileBytes(winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) +
                                                               "/test-helpers/stand_in_launcher.exe"))
                                    .value_or("");
    ASSERT_FALSE(standIn.empty());
    ASSERT_TRUE(writeFileBytes(published, standIn));
    publish(144, {"--launcher", unixPathFromWine(published), "--launcher-version", "117"});
    // Longer than the 2 s the window gives a running check at its exit.
    ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\stand_in_mode.txt", "silent 6000"));
    const auto build = readFileBytes(launcher.exePath());
    ASSERT_TRUE(build.has_value());

    startWith(settingsText(game, L"", Language::English));
    const DWORD oldId = launcher.processId();
    const auto events = [&] { return readFileBytes(launcher.folder() + L"\\events.log").value_or(""); };
    ASSERT_TRUE(waitUntil([&] { return events().find("stand-in silent") != std::string::npos; }, 60000));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindowVisible(window); }, 10000));
    // The restored launcher comes up in a process of its own and updates the game.
    HWND restored = nullptr;
    DWORD restoredId = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            restored = findLauncherWindow();
            if (restored) GetWindowThreadProcessId(restored, &restoredId);
            return restored && restoredId != oldId && IsWindowVisible(restored);
        },
        60000))
        << events();
    UniqueKernelHandle restoredProcess(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, restoredId));
    EXPECT_EQ(launcher.waitForExit(10000), std::optional<DWORD>(0));
    EXPECT_TRUE(readFileBytes(launcher.exePath()) == build) << "the launcher is not the one restored";
    EXPECT_TRUE(waitUntil([&] { return releaseInstalled(); }, 60000));
    EXPECT_NE(readFileBytes(launcher.folder() + L"\\failed_launcher.txt").value_or("").find("failed "),
              std::string::npos);
    PostMessageW(restored, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(restoredProcess.get(), 15000) != WAIT_OBJECT_0)
        TerminateProcess(restoredProcess.get(), 1);
}

}  // namespace
