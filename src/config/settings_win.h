#pragma once

#include "base/wstring.h"
#include "config/settings.h"

// launcher.ini of the launcher folder into / from the process-wide settings. Window thread only.
void loadSettings();
[[nodiscard]] bool saveSettings();

// The same for launcher.ini in a given folder.
void loadSettingsFrom(Settings& settings, const WString& folder);
[[nodiscard]] bool saveSettingsTo(const Settings& settings, const WString& folder);
