#include "ui/launcher_app_win.h"

namespace {

LRESULT handleMessage(LauncherApp& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            app.running = false;
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC target = BeginPaint(window, &paint);
            if (target) paintFrame(app, target);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<LauncherApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!app) return DefWindowProcW(window, message, wParam, lParam);
    // Nothing may unwind through DispatchMessageW: keep the failure for the frame loop.
    try {
        return handleMessage(*app, window, message, wParam, lParam);
    } catch (...) {
        if (!app->pendingError) app->pendingError = std::current_exception();
        app->running = false;
        return 0;
    }
}
