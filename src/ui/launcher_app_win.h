#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "base/wstring.h"
#include "branches/branch_status.h"
#include "branches/update_worker_win.h"
#include "content/news.h"
#include "content/rating.h"
#include "ui/canvas_win.h"
#include "ui/geometry.h"
#include "ui/layout.h"
#include "ui/pictures_win.h"
#include "ui/progress.h"
#include "ui/screen_input.h"
#include "ui/widgets.h"
#include "update/update_engine.h"

// The application object: the one main window, its drawing resources and buttons, and everything
// the screen shows. Created once by the entry on the heap and never destroyed member by member:
// background threads may still read the engine while the process ends. All fields belong to the
// window thread except those the update worker shares through atomics and the engine's lock.
//
// How the window runs, one header each: the run and its frame loop (ui/frame_loop_win.h), the
// per-frame tick (ui/tick_win.h), the window procedure (ui/window_proc_win.h), the painting
// (ui/paint_win.h) and the window's side of the update check (ui/worker_link_win.h).
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

// True when the process token is elevated; false when that cannot be told.
[[nodiscard]] bool processIsElevated();
