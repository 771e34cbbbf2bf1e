#pragma once

#include "ui/launcher_app_win.h"

// The news cards and the rating panel: their part of a frame (ui/paint_win.h), drawn into `graphics`.
void drawNewsPanel(LauncherApp& app, Gdiplus::Graphics& graphics);
void drawRatingPanel(LauncherApp& app, Gdiplus::Graphics& graphics);
