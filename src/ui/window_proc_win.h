#pragma once

#include <windows.h>

// The window class procedure (its class name is the instance mutex name). It finds the application
// object in the window's user data. Mouse messages only set the buttons' hover, press and click
// flags and invalidate the buttons whose look changed; a click acts at the next tick. Its own
// actions are few: dragging by the title strip, closing the gear panel by a click outside it, the
// rating tabs and the rating link. WM_PAINT draws the invalidated area (ui/paint_win.h).
LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
