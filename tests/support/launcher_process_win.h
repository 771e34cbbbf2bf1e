#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/wstring.h"
#include "support/child_process_win.h"

// A copy of this build's launcher run as a real process in a folder of its own, its main window
// found by class name, and the prefix's browser replaced by a stand-in that records what the
// launcher opens. Needs DISPLAY (Xvfb).

// The launcher window (its class is the instance name) among the windows of a thread, or null.
[[nodiscard]] HWND threadLauncherWindow(DWORD threadId);

// VarnholdLauncher.exe as this build made it (the launchers under test run copies of it).
[[nodiscard]] WString builtLauncherPath();

class LauncherProcess {
public:
    // Copies VarnholdLauncher.exe of this build into `folder` (created when missing).
    explicit LauncherProcess(const WString& folder);
    ~LauncherProcess();  // ends the process when it still runs
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    [[nodiscard]] bool copied() const { return copyOk; }
    [[nodiscard]] const WString& exePath() const { return exe; }
    [[nodiscard]] const WString& folder() const { return home; }

    // Starts the copy with this command-line tail, its working folder the scratch folder's parent.
    [[nodiscard]] bool start(const WString& tail = L"");
    // The process's main window (class = the instance name), or null when none came in time or the
    // process ended first.
    [[nodiscard]] HWND waitForWindow(int timeoutMs = 30000);
    // The exit code once the process has ended, empty when it still runs after `timeoutMs`.
    [[nodiscard]] std::optional<DWORD> waitForExit(int timeoutMs);
    // WM_CLOSE to the window, then, when it does not end within `timeoutMs`, TerminateProcess.
    // Returns whether it ended by itself.
    bool close(int timeoutMs = 10000);
    [[nodiscard]] DWORD processId() const { return child ? GetProcessId(child.process.get()) : 0; }

private:
    WString home;
    WString exe;
    bool copyOk = false;
    ChildProcess child;
    HWND mainWindow = nullptr;
};

// The prefix's web browser replaced by tests/helpers/record_url.exe for the life of the object: the
// addresses the shell is asked to open are recorded in a file instead of opening a browser. The
// log's path is part of the registered command: a launcher that counts as elevated (under Wine,
// every one) hands pages to the desktop's shell, whose environment is not the launcher's.
class BrowserStandIn {
public:
    explicit BrowserStandIn(const WString& logPath);
    BrowserStandIn(const BrowserStandIn&) = delete;
    BrowserStandIn& operator=(const BrowserStandIn&) = delete;

    [[nodiscard]] bool installed() const { return ok; }
    [[nodiscard]] std::vector<std::string> opened() const;  // in order
    // Waits until `count` addresses were opened; false at the deadline.
    [[nodiscard]] bool waitForCount(size_t count, int timeoutMs = 10000) const;

private:
    WString log;
    bool ok = false;
};

// Every top-level window of the launcher's class in the session; the first one, or null.
[[nodiscard]] std::vector<HWND> allLauncherWindows();
[[nodiscard]] HWND findLauncherWindow();
// Waits until no launcher window is open (a window left by another test would make the next start
// a second instance); false when one stays.
[[nodiscard]] bool noLauncherWindowLeft(int timeoutMs = 10000);
