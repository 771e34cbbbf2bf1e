#include "app/uninstall_list.h"

#include "update/manifest.h"

std::vector<std::string> splitUninstallList(std::string_view bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t feed = bytes.find('\n', start);
        std::string_view line =
            bytes.substr(start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
        start = feed == std::string_view::npos ? bytes.size() : feed + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
    }
    return lines;
}

bool isSafeUninstallPath(std::string_view path) {
    if (path.empty()) return false;
    if (path.find("..") != std::string_view::npos) return false;
    if (path.find_first_of("\\:") != std::string_view::npos) return false;
    if (path.front() == '/') return false;
    // No list the launcher writes holds a control character (the manifest refuses them); a NUL
    // would even cut the path short when it reaches the file system.
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string_view component =
            path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (component.empty() || component.front() == '.') return false;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return isAllowedGamePath(path);
}

std::vector<std::string> enclosingFoldersInnermostFirst(std::string_view path) {
    std::vector<std::string> folders;
    for (size_t slash = path.rfind('/'); slash != std::string_view::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        folders.emplace_back(path.substr(0, slash));
    }
    return folders;
}
