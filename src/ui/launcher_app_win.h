#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "base/wstring.h"
#include "branches/branch_status.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/screen_input.h"
#include "ui/widgets.h"
#include "update/update_engine.h"

// The application object: the one main window, its drawing resources and buttons, and everything
// the screen shows. Created once by the entry on the heap and never destroyed member by member:
// background threads may still read the engine while the process ends. All fields belong to the
// window thread except those the update worker shares through atomics and the engine's lock.
struct LauncherApp {
    // Measures the display, scales the pictures, builds the fonts and creates and shows the window.
    // Throws std::runtime_error with "No font!", "Failed to register window class!" or "Failed to
    // create window!" when it cannot.
    LauncherApp(HINSTANCE instance, int showCommand);
    LauncherApp(const LauncherApp&) = delete;
    LauncherApp& operator=(const LauncherApp&) = delete;

    // lifecycle: the frame loop runs while it is set
    bool running = false;

    // platform
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    wchar_t title[128] = {};

    // display, measured once
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t dpiY = 96;

    // geometry, fixed for the life of the process: the window is never resized
    WindowGeometry geometry;
    ScreenLayout layout;

    // rights
    bool elevated = false;

    // drawing
    std::unique_ptr<PictureStore> pictures;
    std::unique_ptr<Canvas> canvas;
    SharedPicture glow;
    SharedPicture divider;
    SharedPicture linkIcon;  // the document picture at the height of the top-strip link buttons

    // buttons and input
    ScreenButtons buttons;
    ProgressBar fileBar;
    ProgressBar totalBar;
    InputState input;

    // texts
    WString shownStatus;

    // update: created after the settings are loaded, so its first status line is in their language
    std::unique_ptr<UpdateEngine> engine;
    BranchResultsTable branchResults;

    // A failure inside the window procedure or the painting, kept there so it never crosses
    // DispatchMessageW, and rethrown by the frame loop into the entry's fatal-error path.
    std::exception_ptr pendingError;
};

// The run operation: starts the background work, asks a first-time user for a game folder, then
// runs the frame loop until the running flag is cleared. Returns the last message's wParam.
WPARAM runLauncher(LauncherApp& app);
// The frame loop alone: a tick, then messages until one display frame has passed, while running.
WPARAM runFrameLoop(LauncherApp& app);
// The window thread's per-frame step: clicks, the run's question, results and progress.
void tick(LauncherApp& app);

// The window class procedure (its class name is the instance mutex name).
LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws one full frame into the back buffer and copies it to `target` in one step.
void paintFrame(LauncherApp& app, HDC target);

// True when the process token is elevated; false when that cannot be told.
[[nodiscard]] bool processIsElevated();
