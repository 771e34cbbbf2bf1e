#include "update/local_check.h"

#include <cstdio>

#include "config/text_convert.h"

std::string formatCrc32(uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
    return text;
}

bool crossesReparsePointWith(const WString& gameFolder, std::string_view relativePathUtf8,
                             const std::function<PathKind(const WString&)>& kindOf, LinkFreeFolders* proven) {
    std::string relative(relativePathUtf8);
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    if (relative.empty()) return false;

    // A component that could not be asked about does not stop the walk, so a link further in is
    // still found; one that is not there does, as nothing can lie below it.
    WString walk = gameFolder;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string_view component = std::string_view(relative).substr(
            start, slash == std::string::npos ? std::string::npos : slash - start);
        walk += L'\\';
        walk += utf8ToWide(component);
        const bool last = slash == std::string::npos || slash + 1 == relative.size();
        if (last || !proven || !proven->contains(walk)) {
            const PathKind kind = kindOf(walk);
            if (kind == PathKind::Link) return true;
            if (kind == PathKind::Absent) return false;
            if (kind == PathKind::Plain && !last && proven) proven->add(walk);
        }
        if (last) return false;
        start = slash + 1;
    }
}
