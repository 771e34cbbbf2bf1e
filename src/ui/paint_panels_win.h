#pragma once

#include "ui/launcher_app_win.h"

// The news cards and the rating panel: their part of a frame (ui/paint_win.h), drawn into `graphics`.
void drawNewsPanel(const LauncherApp& app, Gdiplus::Graphics& graphics);
void drawRatingPanel(const LauncherApp& app, Gdiplus::Graphics& graphics);
