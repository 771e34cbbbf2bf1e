#include "ui/window_proc_win.h"

#include "base/constants.h"
#include "config/text_convert.h"
#include "ui/launcher_app_win.h"
#include "ui/paint_win.h"
#include "ui/shell_win.h"

namespace {

// The mouse position of the message being handled, in client coordinates: the message's screen
// position less the window's top-left corner.
POINT messageMousePosition(HWND window) {
    const DWORD position = GetMessagePos();
    RECT rect{};
    GetWindowRect(window, &rect);
    const WindowPoint point = windowPointOfMessage(position, rect.left, rect.top);
    return {point.x, point.y};
}

void applyRepaint(HWND window, const Repaint& repaint) {
    if (repaint.wholeWindow) {
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    for (const IntRect& rect : repaint.rects) invalidate(window, rect);
}

void onMouseDown(LauncherApp& app, HWND window) {
    const POINT p = messageMousePosition(window);
    const MouseDownOutcome outcome = routeMouseDown(app.buttons, app.input, p.x, p.y, app.layout.width);
    applyRepaint(window, outcome.repaint);
    if (outcome.dragWindow) {
        // The system's own move loop; it returns when the button is released.
        ReleaseCapture();
        SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    }
}

void onMouseUp(LauncherApp& app, HWND window) {
    const POINT p = messageMousePosition(window);
    const MouseUpOutcome outcome = routeMouseUp(app.buttons, app.input, p.x, p.y);
    applyRepaint(window, outcome.repaint);
    if (outcome.openRatingPage) (void)openWebPage(utf8ToWide(kRatingPageUrl), nullptr, app.elevated);
}

void onSetCursor(LauncherApp& app, HWND window) {
    // WM_SETCURSOR is sent while the system handles a mouse event that has not yet become the
    // message whose position GetMessagePos reports; the cursor's own position is the current one.
    POINT p{};
    GetCursorPos(&p);
    RECT rect{};
    GetWindowRect(window, &rect);
    const CursorShape shape = cursorShapeAtScreen(app.buttons, app.input, p.x, p.y, rect.left, rect.top);
    SetCursor(shape == CursorShape::Hand ? app.canvas->handCursor : app.canvas->arrowCursor);
}

LRESULT handleMessage(LauncherApp& app, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            app.running = false;
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC target = BeginPaint(window, &paint);
            const RECT& r = paint.rcPaint;
            if (target) paintFrame(app, target, {r.left, r.top, r.right - r.left, r.bottom - r.top});
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SETCURSOR:
            onSetCursor(app, window);
            return 0;
        case WM_MOUSEMOVE:
            applyRepaint(window, routeMouseMove(app.buttons, app.input, messageMousePosition(window).x,
                                                messageMousePosition(window).y));
            return 0;
        case WM_LBUTTONDOWN:
            onMouseDown(app, window);
            return 0;
        case WM_LBUTTONUP:
            onMouseUp(app, window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<LauncherApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!app) return DefWindowProcW(window, message, wParam, lParam);
    // Nothing may unwind through DispatchMessageW: keep the failure for the frame loop, which
    // rethrows it into the entry's fatal-error path.
    try {
        return handleMessage(*app, window, message, wParam, lParam);
    } catch (...) {
        if (!app->pendingError) app->pendingError = std::current_exception();
        app->running = false;
        return 0;
    }
}
