// The launcher's window through whole update checks against the test update server: what the
// player sees change while a check runs, the run's in-window question, and the buttons that start
// checks. A real launcher process, real input, screenshots and the files on disk.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "base/handles_win.h"
#include "ui/update_test_fixture_win.h"

namespace {

// The server hands out each file's copy slowly enough for the progress to be seen.
const char kSlowObjects[] = R"([{"prefix": "/patch/lurra/144/files/", "action": "drip", "chunk": 65536,
    "interval": 0.04}])";

TEST_F(UpdatingLauncher, ACheckThatNeedsFilesShowsProgressAndEndsReadyToPlay) {
    makeReleaseFiles();
    publish(144);
    ASSERT_TRUE(server->setRules(kSlowObjects));
    startWith(settingsText(game, L"", Language::English));

    // The bars: the total bar's fill shows while the files come in.
    const IntRect& bar = layout.totalBar;
    EXPECT_TRUE(waitUntil(
        [&] {
            Screenshot screen = shot("downloading");
            const Rgb fill = pixel(screen, bar.left + 4, bar.top + bar.height / 2);
            return fill.r > 120 && fill.r > fill.b + 50;  // the bronze fill
        },
        30000))
        << "no progress seen";

    ASSERT_TRUE(waitUntil([&] { return releaseInstalled(); }, 90000)) << "the release was not installed";
    EXPECT_TRUE(waitUntil([&] { return playLooksEnabled(0, "play-enabled"); }, 10000));
    EXPECT_FALSE(playLooksEnabled(1, "second-play"));  // no folder for the second branch
    expectStatusShown(L"LURRA 1.44 — ready\nKORDAN TVX — folder not set", "ready");
    EXPECT_EQ(readFileBytes(game + L"\\VarnholdChannel.ini"),
              std::optional<std::string>("# Varnhold install marker - do not edit\nchannel=lurra\n"));
}

TEST_F(UpdatingLauncher, ALockedFileAsksAndContinueAnywayFinishesTheRest) {
    makeReleaseFiles(4, 64 << 10);
    publish(144);
    const WString readyName = L"VarnholdUiLockReady-" + std::to_wstring(GetCurrentProcessId());
    const WString releaseName = L"VarnholdUiLockRelease-" + std::to_wstring(GetCurrentProcessId());
    UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    UniqueKernelHandle releaseLock(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    WString command =
        L"\"" + winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/hold_open_file.exe") +
        L"\" \"" + game + L"\\Imgs\\data.bin\" rw - " + readyName + L" " + releaseName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &holder));
    UniqueKernelHandle holderProcess(holder.hProcess);
    CloseHandle(holder.hThread);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);

    startWith(settingsText(game, L"", Language::English));
    ASSERT_TRUE(waitUntil([&] { return questionShown("question"); }, 60000)) << "the question did not open";
    // Only the answers take input: the close button does nothing now.
    ASSERT_TRUE(click(layout.closeButton));
    Sleep(500);
    EXPECT_FALSE(launcher.waitForExit(0).has_value());

    ASSERT_TRUE(click(layout.continueAnyway));
    EXPECT_TRUE(waitUntil([&] { return !questionShown("answered"); }, 10000));
    // The run goes on with the files it could check.
    EXPECT_TRUE(waitUntil(
        [&] {
            return readFileBytes(game + L"\\Imgs\\mod_3.dds") ==
                   readFileBytes(release + L"\\Imgs\\mod_3.dds");
        },
        60000));
    SetEvent(releaseLock.get());
    WaitForSingleObject(holderProcess.get(), 10000);
}

TEST_F(UpdatingLauncher, TryAgainCancelsTheRunAndStartsAFullCheck) {
    makeReleaseFiles(4, 64 << 10);
    publish(144);
    const WString readyName = L"VarnholdUiRetryReady-" + std::to_wstring(GetCurrentProcessId());
    const WString releaseName = L"VarnholdUiRetryRelease-" + std::to_wstring(GetCurrentProcessId());
    UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    UniqueKernelHandle releaseLock(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    WString command =
        L"\"" + winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/hold_open_file.exe") +
        L"\" \"" + game + L"\\Imgs\\data.bin\" rw - " + readyName + L" " + releaseName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION holder{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &holder));
    UniqueKernelHandle holderProcess(holder.hProcess);
    CloseHandle(holder.hThread);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);

    startWith(settingsText(game, L"", Language::English));
    ASSERT_TRUE(waitUntil([&] { return questionShown("first-question"); }, 60000));
    const int descriptorsBefore = requests("/patch/lurra/latest.txt");
    ASSERT_TRUE(click(layout.tryAgain));
    // A new check: the descriptor again, and, with the file still locked, the question again.
    EXPECT_TRUE(waitUntil([&] { return requests("/patch/lurra/latest.txt") > descriptorsBefore; }, 30000));
    ASSERT_TRUE(waitUntil([&] { return questionShown("second-question"); }, 60000));
    SetEvent(releaseLock.get());
    WaitForSingleObject(holderProcess.get(), 10000);
    ASSERT_TRUE(click(layout.tryAgain));
    EXPECT_TRUE(waitUntil([&] { return releaseInstalled(); }, 60000));
    expectStatusShown(L"LURRA 1.44 — ready\nKORDAN TVX — folder not set", "ready");
}

TEST_F(UpdatingLauncher, TheVerifyButtonChecksEveryFileOfACurrentRelease) {
    makeReleaseFiles(2, 64 << 10);
    publish(144);
    startWith(settingsText(game, L"", Language::English));
    ASSERT_TRUE(waitUntil([&] { return releaseInstalled() && playLooksEnabled(0, "installed"); }, 60000));
    const int manifestsBefore = requests("/patch/lurra/144/checksums.txt");
    ASSERT_TRUE(click(layout.gearButton));
    Sleep(400);
    ASSERT_TRUE(click(layout.verifyButton));
    // A normal check of a current release stops at the descriptor; the full check reads the
    // manifest and checks every file.
    EXPECT_TRUE(
        waitUntil([&] { return requests("/patch/lurra/144/checksums.txt") > manifestsBefore; }, 30000));
    EXPECT_TRUE(waitUntil([&] { return playLooksEnabled(0, "verified"); }, 30000));
}

}  // namespace
