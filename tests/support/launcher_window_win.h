#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/wstring.h"
#include "support/child_process_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/pictures_win.h"

// The window test harness: a copy of this build's launcher run as a real process in a folder of
// its own, its main window found by class name, real mouse input through the X server (xdotool),
// screenshots of the X screen kept as test artefacts, and the launcher's pictures decoded in the
// test process, for pixel checks without golden images. Needs DISPLAY (Xvfb).

// GDI+ in the test process (for reading pictures), started on first use and kept to the end.
void startGdiplusOnce();

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

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};
[[nodiscard]] bool closeTo(const Rgb& a, const Rgb& b, int tolerance);
[[nodiscard]] std::string describe(const Rgb& colour);
// What shows through the window's 0x4C000000 shade (the top strip, the rating panel).
[[nodiscard]] Rgb shaded(const Rgb& under);

// The screen position of a window's client origin.
[[nodiscard]] POINT clientOrigin(HWND window);

// The whole X screen, read back as pixels; kept as build/<preset>/test-run/screenshots/<test>-<name>.png.
class Screenshot {
public:
    [[nodiscard]] bool take(const std::string& name);
    [[nodiscard]] Rgb at(int x, int y) const;
    // Pixel at client coordinates of a window whose client area starts at `origin` on the screen.
    [[nodiscard]] Rgb atClient(POINT origin, int x, int y) const { return at(origin.x + x, origin.y + y); }

private:
    int w = 0;
    int h = 0;
    std::vector<uint8_t> rgb;
};

// Real mouse input at client coordinates of `window`, through the X server as a user's mouse would
// give it. Each returns whether xdotool ran. A drag presses at one point, moves there in steps and
// releases.
namespace mouse {
bool click(HWND window, int x, int y);
bool drag(HWND window, int fromX, int fromY, int toX, int toY);
}  // namespace mouse

// The pictures of a launcher executable, decoded the way the launcher decodes and scales them.
class ExePictures {
public:
    explicit ExePictures(const WString& exePath);
    ~ExePictures();
    ExePictures(const ExePictures&) = delete;
    ExePictures& operator=(const ExePictures&) = delete;

    [[nodiscard]] bool any() const;
    [[nodiscard]] DecodedPng load(int32_t id) const { return loadPngResource(module, id); }
    // The picture resized to `size`, as the launcher draws it.
    [[nodiscard]] std::unique_ptr<Gdiplus::Bitmap> at(int32_t id, PixelSize size) const;
    // The size of picture `id` in a window `windowHeight` high; empty when it is missing.
    [[nodiscard]] PixelSize sizeAt(int32_t id, int32_t windowHeight) const;
    // The launcher's layout for its window: the client size and the play picture's size.
    [[nodiscard]] ScreenLayout layoutOf(HWND window) const;

private:
    HMODULE module = nullptr;
};

// A mostly opaque pixel of `bitmap`, searched in the part of it given as fractions of its size.
[[nodiscard]] std::optional<POINT> solidPixelIn(Gdiplus::Bitmap& bitmap, double left, double top,
                                                double right, double bottom);
[[nodiscard]] Rgb pixelOf(Gdiplus::Bitmap& bitmap, int x, int y);
// `over` with its alpha on top of `under`, as the window composes its pictures.
[[nodiscard]] Rgb blend(Gdiplus::Bitmap& over, int x, int y, const Rgb& under);
// The share of the pixels of `area` (client coordinates of a window whose client area starts at
// `origin`) that differ from `expected` (a bitmap of the whole window) by more than `tolerance`.
[[nodiscard]] double differingShare(const Screenshot& shot, POINT origin, Gdiplus::Bitmap& expected,
                                    const IntRect& area, int tolerance);
