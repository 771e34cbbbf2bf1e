#pragma once

#include <windows.h>

#include "ui/geometry.h"
#include "ui/launcher_app_win.h"

// The painting. The tick and the window procedure never draw: they invalidate rectangles
// (InvalidateRect). WM_PAINT then calls paintFrame with the update region's bounds:
// that area of the back buffer (ui/canvas_win.h) starts again from the base layer, a copy of what
// never changes (background, shaded top strip, rating panel frame) kept once at start-up; only the
// parts of the screen that reach into the area are drawn over it, clipped to it; then the area
// alone is copied to the window with one BitBlt. The rest of the back buffer keeps the last frame.

// Draws one full frame into the back buffer and copies it to `target` in one step; with `area`, only
// what lies in it.
void paintFrame(const LauncherApp& app, HDC target);
void paintFrame(const LauncherApp& app, HDC target, const IntRect& area);

// Marks a rectangle of the window for the next WM_PAINT, without erasing (nothing for an empty one):
// how the tick and the window procedure ask for a repaint.
void invalidate(HWND window, const IntRect& rect);

// Draws the base layer into the back buffer and keeps it there; once, after the pictures are loaded.
void prepareBaseLayer(LauncherApp& app);
