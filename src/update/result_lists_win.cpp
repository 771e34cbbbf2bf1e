#include "update/result_lists_win.h"

#include <string>

#include "app/constants.h"
#include "app/replace_file_win.h"

void writeUninstallList(const WString& gameFolder, const FileManifest& manifest) {
    std::string list;
    for (const ManifestEntry& entry : manifest) {
        list += entry.path;
        list += '\n';
    }
    (void)replaceFileContents(gameFolder + kUninstallListFileName, list);
}
