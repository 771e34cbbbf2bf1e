#include "config/settings_win.h"

#include <windows.h>

#include <optional>
#include <string>

#include "base/constants.h"
#include "base/paths_win.h"
#include "base/read_file_win.h"
#include "base/replace_file_win.h"

namespace {}  // namespace

void loadSettingsFrom(Settings& settings, const WString& folder) {
    for (WString& branchFolder : settings.branchFolders) branchFolder.clear();
    // A file the INI reader rejects (or that cannot be read) is ignored silently: the folders stay
    // empty, the language as it was, and the file itself is not touched.
    if (const std::optional<std::string> text = readWholeFile(folder + kSettingsFileName)) {
        (void)applySettingsText(settings, *text);
    }
}

bool saveSettingsTo(const Settings& settings, const WString& folder) {
    return replaceFileContents(folder + kSettingsFileName, buildSettingsText(settings));
}

void loadSettings() { loadSettingsFrom(appSettings(), launcherFolder()); }

bool saveSettings() { return saveSettingsTo(appSettings(), launcherFolder()); }
