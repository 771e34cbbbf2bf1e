// The launcher's start-up as separate processes meet it: the single-instance rule, the hand-over
// after a self-update, and the fatal-error path.
#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/constants.h"
#include "base/handles_win.h"
#include "base/run_log.h"
#include "config/text_convert.h"
#include "support/child_process_win.h"
#include "support/dialog_driver_win.h"
#include "ui/launcher_test_fixture_win.h"

namespace {

// A process-unique name for a test event.
WString eventName(const wchar_t* role) {
    return L"VarnholdTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64()) + L"-" + role;
}

// Appends to a file that a launcher may hold open for appending (it shares writing).
bool appendToFile(const WString& path, const std::string& bytes) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

class Entry : public RunningLauncher {
protected:
    void SetUp() override {
        RunningLauncher::SetUp();
        ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\launcher.ini",
                                   settingsText(scratch.path(), L"", Language::English)));
    }

    // The instance mutex as another process sees it: whether someone owns it right now.
    static bool instanceMutexOwnedElsewhere() {
        UniqueKernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kInstanceMutexName));
        if (!mutex) return false;
        const DWORD waited = WaitForSingleObject(mutex.get(), 0);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            ReleaseMutex(mutex.get());
            return false;
        }
        return true;
    }
};

TEST_F(Entry, ASecondStartBringsTheFirstWindowBackUnlessToldToIgnoreInstancesThenWaitsFiveSeconds) {
    ASSERT_TRUE(launcher.start());
    const HWND window = launcher.waitForWindow();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(waitUntil([&] { return IsIconic(window) != FALSE; }, 5000));

    // The first launcher's log grew past the bound meanwhile: only the launcher that goes on
    // running moves it aside, or the first one's later lines would land in launcher.log.1.
    const WString log = launcher.folder() + L"\\launcher.log";
    ASSERT_TRUE(appendToFile(log, std::string(kRunLogRotateBytes, 'x') + "\r\n"));
    LauncherProcess second(scratch / L"launcher");  // the same executable started again
    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.waitForExit(20000), std::optional<DWORD>(0));
    EXPECT_TRUE(waitUntil([&] { return IsIconic(window) == FALSE && IsWindowVisible(window); }, 5000));
    EXPECT_EQ(allLauncherWindows().size(), 1u);
    EXPECT_FALSE(fileExists(launcher.folder() + L"\\launcher_error.log"));
    EXPECT_FALSE(fileExists(log + L".1"));
    EXPECT_NE(readFileBytes(log).value_or("").find("another launcher runs: its window was brought forward"),
              std::string::npos);

    // With -ignoreinstances the first one keeps the mutex: the next waits out its 5 s, then goes on
    // without it.
    LauncherProcess third(scratch / L"launcher");
    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(third.start(L"-ignoreinstances"));
    ASSERT_NE(third.waitForWindow(30000), nullptr);
    EXPECT_GE(GetTickCount64() - started, 4900u);
    EXPECT_EQ(allLauncherWindows().size(), 2u);
    EXPECT_TRUE(third.close());
    EXPECT_TRUE(launcher.close());
    EXPECT_EQ(launcher.waitForExit(5000), std::optional<DWORD>(0));
    EXPECT_FALSE(fileExists(log + L".1"));  // the third one did not own the mutex either
    const std::string lines = readFileBytes(log).value_or("");
    const std::string lastLine = "] exit\r\n";  // the first one's
    EXPECT_TRUE(lines.size() > lastLine.size() &&
                lines.compare(lines.size() - lastLine.size(), lastLine.size(), lastLine) == 0)
        << lines.substr(lines.size() - std::min<size_t>(lines.size(), 300));
}

TEST_F(Entry, PostUpdateStartSignalsHealthyRemovesTheBackupAndTakesTheMutex) {
    const WString backup = launcher.folder() + L"\\old_launcher.bak";
    ASSERT_TRUE(writeFileBytes(backup, "old"));
    // The old launcher's side of the hand-over: the event, and the mutex held until it sees the
    // event.
    UniqueKernelHandle healthy(CreateEventW(nullptr, TRUE, FALSE, kUpdateHealthyEventName));
    ASSERT_TRUE(healthy);
    UniqueKernelHandle mutex(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    ASSERT_TRUE(mutex);
    // The old launcher still writes its log: the new one moves it aside only once it has the mutex.
    const WString log = launcher.folder() + L"\\launcher.log";
    ASSERT_TRUE(appendToFile(log, std::string(kRunLogRotateBytes, 'x') + "\r\n"));

    ASSERT_TRUE(launcher.start(L"-ignoreinstances -postupdate"));
    ASSERT_EQ(WaitForSingleObject(healthy.get(), 30000), WAIT_OBJECT_0);
    // Set only once the window exists.
    EXPECT_NE(findLauncherWindow(), nullptr);
    Sleep(300);
    EXPECT_FALSE(fileExists(log + L".1"));
    // The old launcher ends when it sees the event, which leaves the mutex to the new one; the
    // backup of the old launcher goes after that.
    EXPECT_TRUE(fileExists(backup));
    ReleaseMutex(mutex.get());
    mutex.reset();
    EXPECT_TRUE(waitUntil([] { return instanceMutexOwnedElsewhere(); }, 5000))
        << "the new launcher took no mutex";
    EXPECT_TRUE(waitUntil([&] { return !fileExists(backup); }, 5000));
    EXPECT_TRUE(waitUntil([&] { return fileExists(log + L".1"); }, 5000));
    ASSERT_NE(launcher.waitForWindow(), nullptr);
    EXPECT_TRUE(launcher.close());
    EXPECT_NE(readFileBytes(log).value_or("").find("] exit\r\n"), std::string::npos);
}

TEST_F(Entry, PostUpdateStartWithoutAnOldLauncherStartsAndKeepsTheBackup) {
    const WString backup = launcher.folder() + L"\\old_launcher.bak";
    ASSERT_TRUE(writeFileBytes(backup, "old"));
    ASSERT_TRUE(launcher.start(L"-postupdate"));
    ASSERT_NE(launcher.waitForWindow(), nullptr);
    Sleep(500);
    EXPECT_TRUE(fileExists(backup));
    EXPECT_TRUE(launcher.close());
    EXPECT_EQ(launcher.waitForExit(5000), std::optional<DWORD>(0));
}

TEST_F(Entry, AFirstStartAsksForTheGameFolder) {
    ASSERT_TRUE(writeFileBytes(launcher.folder() + L"\\launcher.ini", ""));
    ASSERT_TRUE(launcher.start());
    const HWND window = launcher.waitForWindow();
    ASSERT_NE(window, nullptr);
    const std::optional<DialogSnapshot> box = waitForDialog(L"Варнхольд", 30000, launcher.processId());
    ASSERT_TRUE(box.has_value()) << "no first-run box";
    EXPECT_EQ(box->owner, window);
    ASSERT_FALSE(box->texts.empty());
    EXPECT_EQ(box->texts.back().rfind(L"Похоже, лаунчер запущен впервые.", 0), 0u);
    ASSERT_TRUE(clickButton(*box, L"OK"));
    // Then the folder browser for the first branch; cancelling it leaves the folders empty.
    const std::optional<DialogSnapshot> browser =
        waitForDialog(kFolderBrowserCaption, 30000, launcher.processId());
    ASSERT_TRUE(browser.has_value());
    ASSERT_TRUE(clickButton(*browser, L"Cancel"));
    EXPECT_TRUE(waitUntil(
        [&] { return IsWindowVisible(window) != FALSE && listDialogs(launcher.processId()).empty(); },
        10000));
    EXPECT_TRUE(launcher.close());
    EXPECT_EQ(readFileBytes(launcher.folder() + L"\\launcher.ini"), std::optional<std::string>(""));
}

TEST_F(Entry, MutexHeldWithoutAWindowEndsInTheErrorLogAndBox) {
    const WString readyName = eventName(L"ready");
    const WString releaseName = eventName(L"release");
    UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    const WString helper =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/hold_instance_mutex.exe");
    const ChildProcess holder = startChild(helper, L"\"" + helper + L"\" " + readyName + L" " + releaseName);
    ASSERT_TRUE(holder);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);

    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(launcher.start());
    const std::optional<DialogSnapshot> box = waitForDialog(L"Error!", 30000, launcher.processId());
    ASSERT_TRUE(box.has_value()) << "no \"Error!\" box";
    EXPECT_GE(GetTickCount64() - started, 4900u);  // the earlier launcher was given 5 s for a window
    const char kText[] = "Please close any previous instances of this program and try again.";
    ASSERT_FALSE(box->texts.empty());
    EXPECT_EQ(box->texts[0], WString(kText, kText + sizeof kText - 1));
    EXPECT_EQ(box->owner, nullptr);
    EXPECT_EQ(readFileBytes(launcher.folder() + L"\\launcher_error.log"), std::optional<std::string>(kText));
    const std::string log = readFileBytes(launcher.folder() + L"\\launcher.log").value_or("");
    EXPECT_NE(log.find("] start: launcher 1.16, Windows "), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("] fatal error: ") + kText + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(allLauncherWindows().size(), 0u);
    EXPECT_TRUE(clickButton(*box, L"OK"));
    EXPECT_EQ(launcher.waitForExit(10000), std::optional<DWORD>(0));
    SetEvent(release.get());
    EXPECT_EQ(waitForChild(holder, 10000), std::optional<DWORD>(0));
}

// An earlier launcher whose window shows late (made hidden while its first frame is prepared) is
// waited for and brought forward once it shows, as is one whose mutex this process may not open
// (made elevated; Wine enforces a mutex's access rules as Windows does).
TEST_F(Entry, AnEarlierLauncherWithALateWindowOrAMutexWeMayNotOpenIsBroughtForward) {
    const WString helper =
        winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/hold_instance_mutex.exe");
    // During a self-update the new launcher's window, hidden, may come before the old one's.
    for (const auto& [holding, showAfterMs] :
         {std::pair{L" 2000", 2000u}, {L" 0 denied", 0u}, {L" 0 hidden-newer", 0u}}) {
        SCOPED_TRACE(testing::Message() << "holder:" << wideToUtf8(holding));
        const WString readyName = eventName(L"ready"), releaseName = eventName(L"release");
        UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
        const ChildProcess holder =
            startChild(helper, L"\"" + helper + L"\" " + readyName + L" " + releaseName + holding);
        ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);
        const ULONGLONG readyAt = GetTickCount64();
        ASSERT_TRUE(launcher.start());
        EXPECT_EQ(launcher.waitForExit(20000), std::optional<DWORD>(0));
        // Restored only once it showed (minimised): one restored while still hidden would show
        // minimised after all.
        const ULONGLONG shownAt = readyAt + showAfterMs + 500;
        if (GetTickCount64() < shownAt) Sleep(static_cast<DWORD>(shownAt - GetTickCount64()));
        std::vector<HWND> windows = allLauncherWindows();  // the holder's, no other
        windows.erase(
            std::remove_if(windows.begin(), windows.end(), [](HWND w) { return !IsWindowVisible(w); }),
            windows.end());
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_TRUE(waitUntil([&] { return IsIconic(windows[0]) == FALSE; }, 5000));
        EXPECT_FALSE(fileExists(launcher.folder() + L"\\launcher_error.log"));
        SetEvent(release.get());
        EXPECT_EQ(waitForChild(holder, 10000), std::optional<DWORD>(0));
    }
}

}  // namespace
