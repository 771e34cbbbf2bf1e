#include "update/result_lists_win.h"

#include <string>

#include "base/constants.h"
#include "base/replace_file_win.h"

void writeUninstallList(const WString& gameFolder, const FileManifest& manifest) {
    std::string list;
    for (const ManifestEntry& entry : manifest) {
        list += entry.path;
        list += '\n';
    }
    (void)replaceFileContents(gameFolder + kUninstallListFileName, list);
}
