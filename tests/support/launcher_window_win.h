#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/wstring.h"
#include "support/child_process_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"

// The window test harness: a copy of this build's launcher run as a real process in a folder of
// its own, its main window found by class name, real mouse input through the X server (xdotool),
// and screenshots of the X screen kept as test artefacts. Needs DISPLAY (Xvfb).

// GDI+ in the test process (for reading pictures), started on first use and kept to the end.
void startGdiplusOnce();

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

    [[nodiscard]] HANDLE process() const { return child.process.get(); }
    [[nodiscard]] DWORD processId() const { return child ? GetProcessId(child.process.get()) : 0; }
    [[nodiscard]] HWND window() const { return mainWindow; }

private:
    WString home;
    WString exe;
    bool copyOk = false;
    ChildProcess child;
    HWND mainWindow = nullptr;
};

// The prefix's web browser replaced by tests/helpers/record_url.exe for the life of the object: the
// addresses the shell is asked to open are recorded in a file instead of opening a browser. The
// log is handed to the launcher through VARNHOLD_URL_LOG in this process's environment, which a
// launcher started afterwards inherits.
class BrowserStandIn {
public:
    explicit BrowserStandIn(const WString& logPath);
    ~BrowserStandIn();
    BrowserStandIn(const BrowserStandIn&) = delete;
    BrowserStandIn& operator=(const BrowserStandIn&) = delete;

    [[nodiscard]] bool installed() const { return ok; }
    // The addresses opened so far, in order.
    [[nodiscard]] std::vector<std::string> opened() const;
    // Waits until `count` addresses were opened; false at the deadline.
    [[nodiscard]] bool waitForCount(size_t count, int timeoutMs = 10000) const;

private:
    WString log;
    bool ok = false;
};

// The top-level window of the launcher's class in the session, or null.
[[nodiscard]] HWND findLauncherWindow();
// Waits until no launcher window is open (a window left by another test would make the next start
// a second instance); false when one stays.
[[nodiscard]] bool noLauncherWindowLeft(int timeoutMs = 10000);
// Every top-level launcher window (to tell that a second start left only one).
[[nodiscard]] std::vector<HWND> allLauncherWindows();

// The launcher's layout for its window: the window's client size and the play picture of `exePath`.
[[nodiscard]] ScreenLayout launcherLayout(HWND window, const WString& exePath);
// Size of a picture of `exePath` at the scale of a window `windowHeight` high; empty when missing.
[[nodiscard]] PixelSize exePictureSize(const WString& exePath, int32_t id, int32_t windowHeight);

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};
[[nodiscard]] bool closeTo(const Rgb& a, const Rgb& b, int tolerance);
[[nodiscard]] std::string describe(const Rgb& colour);

// The whole X screen, read back as pixels; kept as build/<preset>/test-run/screenshots/<test>-<name>.png.
class Screenshot {
public:
    [[nodiscard]] bool take(const std::string& name);
    [[nodiscard]] Rgb at(int x, int y) const;
    // Pixel at client coordinates of a window whose client area starts at `origin` on the screen.
    [[nodiscard]] Rgb atClient(POINT origin, int x, int y) const { return at(origin.x + x, origin.y + y); }
    [[nodiscard]] int width() const { return w; }
    [[nodiscard]] int height() const { return h; }
    [[nodiscard]] const std::string& pngPath() const { return png; }

private:
    int w = 0;
    int h = 0;
    std::vector<uint8_t> rgb;
    std::string png;
};

// The screen position of a window's client origin.
[[nodiscard]] POINT clientOrigin(HWND window);

// Real mouse input at client coordinates of `window`, through the X server as a user's mouse would
// give it. Each returns whether xdotool ran.
namespace mouse {
bool moveTo(HWND window, int x, int y);
bool click(HWND window, int x, int y);
bool press(HWND window, int x, int y);
bool release(HWND window, int x, int y);
// Press at one point, move in steps to the other, release there.
bool drag(HWND window, int fromX, int fromY, int toX, int toY);
}  // namespace mouse

// Polls `condition` every 20 ms for at most `timeoutMs`, pumping this thread's messages meanwhile.
template <typename Condition>
[[nodiscard]] bool waitUntil(Condition condition, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(20);
    }
}
