#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "base/wstring.h"
#include "branches/branch_status.h"
#include "branches/update_worker_win.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/news.h"
#include "ui/pictures_win.h"
#include "ui/progress.h"
#include "ui/rating.h"
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

    // buttons and input
    ScreenButtons buttons;
    ProgressBar fileBar;
    ProgressBar totalBar;
    InputState input;

    // texts
    EngineTexts snapshot;  // the engine's texts, copied at every tick
    WString shownStatus;   // the status line as last shown
    WString progressCaption;
    bool singleBarMode = false;  // the launcher's own download: one bar in the total bar's place
    ProgressTracker progress;
    bool ratingShownOnce = false;
    bool versionShownOnce = false;

    // update: the worker with the engine and the branches' check results, created after the
    // settings are loaded, so the engine's first status line is in their language
    std::unique_ptr<UpdateWorker> worker;

    // the text the open question shows
    WString questionText;

    // panels
    std::vector<NewsEntry> news;  // card i shows news[i] and is enabled for i < news.size()
    // The news text and the language the cards were last made from: a text is parsed once per
    // language, also when it yields no card.
    WString newsSource;
    Language newsLanguage = Language::Russian;
    RatingState rating;

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

// Draws one full frame into the back buffer and copies it to `target` in one step; with `area`, only
// what lies in it (the rest of the back buffer keeps the last frame).
void paintFrame(LauncherApp& app, HDC target);
void paintFrame(LauncherApp& app, HDC target, const IntRect& area);
// What lies under every frame and never changes: the background, the shaded top strip and the
// rating panel's shade and frame. Drawn once into the base layer after the pictures are loaded.
void drawBaseLayer(LauncherApp& app, Gdiplus::Graphics& graphics);
void prepareBaseLayer(LauncherApp& app);

// The news cards and the rating panel (their part of the frame).
void drawNewsPanel(LauncherApp& app, Gdiplus::Graphics& graphics);
void drawRatingPanel(LauncherApp& app, Gdiplus::Graphics& graphics);

// After the frame loop: asks a running check to stop and waits for it a bounded time. True when
// every background thread that uses the application has ended, so the process may end normally;
// false when one still runs and the process must end without running static destructors.
[[nodiscard]] bool finishBackgroundWork(LauncherApp& app);

// The window's side of the update check (window thread only).
// Gives the worker the window's callbacks; called once the window exists.
void connectWorker(LauncherApp& app);
[[nodiscard]] UpdateEngine& launcherEngine(LauncherApp& app);
// The branch whose update run is in progress, or -1.
[[nodiscard]] int32_t activeBranchIndex(const LauncherApp& app);
// Whether the check in progress was started as a full check (the verify button then reads
// "Checking...").
[[nodiscard]] bool fullCheckRunning(const LauncherApp& app);
// Starts a check (or, while one runs, asks it to stop and records a re-run).
void startCheck(LauncherApp& app, bool verify);
// Starts a recorded re-run once the worker has ended.
void startRerunIfDue(LauncherApp& app);
// The try-again answer: the run stops and a full check follows.
void requestFullRerun(LauncherApp& app);
// Takes over a finished check: play buttons, verify button, a flash of the window.
void takeOverResults(LauncherApp& app);
// A click on a play button; clears the running flag when the game started.
void playBranch(LauncherApp& app, int branchIndex);
// The folder choice of a branch (modal).
void chooseFolder(LauncherApp& app, int branchIndex);
// After a language switch: the status summary again, in the new language, unless a run is writing.
void onLanguageSwitched(LauncherApp& app);

// True when the process token is elevated; false when that cannot be told.
[[nodiscard]] bool processIsElevated();
