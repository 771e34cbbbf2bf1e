#include "app/uninstall_list.h"

#include "update/manifest.h"

std::vector<std::string> splitUninstallList(std::string_view bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) lines.emplace_back(nextListLine(bytes, start));
    return lines;
}

bool isSafeUninstallPath(std::string_view path) {
    // The manifest's own path rules: a list line can never name more than a manifest could. They
    // also refuse control bytes, which no list the launcher writes holds; a NUL would even cut the
    // path short when it reaches the file system.
    return isSafeGamePath(path);
}

std::vector<std::string> enclosingFoldersInnermostFirst(std::string_view path) {
    std::vector<std::string> folders;
    for (size_t slash = path.rfind('/'); slash != std::string_view::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        folders.emplace_back(path.substr(0, slash));
    }
    return folders;
}
