#include "ui/frame_loop_win.h"

#include <exception>
#include <thread>

#include "branches/folder_choice_win.h"
#include "config/settings.h"
#include "ui/rating_fetch_win.h"
#include "ui/tick_win.h"
#include "ui/ui_texts.h"

namespace {

// A failure kept by the window procedure ends the loop through the entry's fatal-error path.
void rethrowPendingError(LauncherApp& app) {
    if (!app.pendingError) return;
    std::exception_ptr error = app.pendingError;
    app.pendingError = nullptr;
    std::rethrow_exception(error);
}

}  // namespace

WPARAM runFrameLoop(LauncherApp& app) {
    MSG message{};
    while (app.running) {
        tick(app);
        rethrowPendingError(app);
        // Wait for messages at most one display frame: a fresh thread timer per wait, so a burst of
        // messages never postpones the next tick by more than one interval.
        for (;;) {
            const UINT_PTR timer =
                SetTimer(nullptr, 0, static_cast<UINT>(app.geometry.frameIntervalMs), nullptr);
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (timer) KillTimer(nullptr, timer);
            if (got == 0 || got == -1) break;
            if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == timer) break;
            TranslateMessage(&message);
            DispatchMessageW(&message);
            rethrowPendingError(app);
        }
    }
    return message.wParam;
}

WPARAM runLauncher(LauncherApp& app) {
    startUpdateCheck(*app.worker, false);
    // Detached: it ends with the process; the rating state lives as long as the application.
    std::thread([&rating = app.rating] { fetchRatings(rating); }).detach();

    bool anyFolder = false;
    for (const WString& folder : appSettings().branchFolders) anyFolder = anyFolder || !folder.empty();
    if (!anyFolder) {
        MessageBoxW(app.window, localized(ui_texts::kFirstRunText), localized(ui_texts::kFirstRunCaption),
                    MB_ICONINFORMATION);
        chooseBranchFolder(*app.worker, 0);
    }
    if (!app.running) return 0;
    return runFrameLoop(app);
}
