#include "config/settings_win.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/constants.h"
#include "app/paths_win.h"
#include "app/replace_file_win.h"
#include "app/unique_handle.h"

namespace {

std::string readWholeFile(std::FILE* file) {
    std::string bytes;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    return bytes;
}

}  // namespace

void loadSettingsFrom(Settings& settings, const WString& folder) {
    for (WString& branchFolder : settings.branchFolders) branchFolder.clear();
    UniqueFile file(_wfopen((folder + kSettingsFileName).c_str(), L"rb"));
    if (!file) return;
    // A file the INI reader rejects is ignored silently: the folders stay empty, the language as
    // it was, and the file itself is not touched.
    (void)applySettingsText(settings, readWholeFile(file.get()));
}

bool saveSettingsTo(const Settings& settings, const WString& folder) {
    return replaceFileContents(folder + kSettingsFileName, buildSettingsText(settings));
}

void loadSettings() { loadSettingsFrom(appSettings(), launcherFolder()); }

bool saveSettings() { return saveSettingsTo(appSettings(), launcherFolder()); }
