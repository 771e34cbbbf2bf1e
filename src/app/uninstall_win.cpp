#include "app/uninstall_win.h"

#include <windows.h>

#include <optional>
#include <string>

#include "app/uninstall_list.h"
#include "base/constants.h"
#include "base/read_file_win.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "update/bundle_win.h"
#include "update/local_check_win.h"

namespace {

// Game paths are written with "\" throughout so that a "\\?\" launcher folder works as well.
WString gamePath(const WString& folder, const std::string& relativeUtf8) {
    WString path = folder + L"\\" + utf8ToWide(relativeUtf8);
    for (size_t i = folder.size(); i < path.size(); ++i) {
        if (path[i] == L'/') path[i] = L'\\';
    }
    return path;
}

void removeListedPath(const WString& folder, const std::string& path) {
    // Deleting through a link would remove what the link points to, outside the game folder.
    if (!isSafeUninstallPath(path) || crossesReparsePoint(folder, path)) return;
    const WString target = gamePath(folder, path);
    DeleteFileW(target.c_str());
    // The compressed copy an interrupted update may have left beside it, with its note.
    discardCopy(target + L".gz");
    // Every enclosing folder is tried once; one that still holds something simply stays.
    for (const std::string& enclosing : enclosingFoldersInnermostFirst(path)) {
        RemoveDirectoryW(gamePath(folder, enclosing).c_str());
    }
}

}  // namespace

void runUninstall(const WString& launcherFolder) {
    const WString listPath = launcherFolder + kUninstallListFileName;
    if (const std::optional<std::string> list = readWholeFile(listPath)) {
        for (const std::string& line : splitUninstallList(*list)) removeListedPath(launcherFolder, line);
    }
    // The part of a bundle download that broke off, kept for the next run.
    discardCopy(bundleCopyPath(launcherFolder));
    DeleteFileW((launcherFolder + kInstalledVersionFileName).c_str());
    DeleteFileW(listPath.c_str());
}
