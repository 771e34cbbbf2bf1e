#include "update/local_check_win.h"

#include <windows.h>

#include "config/text_convert.h"

bool crossesReparsePoint(const WString& gameFolder, std::string_view relativePathUtf8) {
    std::string relative(relativePathUtf8);
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    if (relative.empty()) return false;

    // Every component is examined once, outermost first; one that does not exist does not stop
    // the walk, so a link further in is still found.
    WString walk = gameFolder;
    size_t start = 0;
    for (;;) {
        const size_t slash = relative.find('/', start);
        const std::string component =
            relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        walk += L'\\';
        walk += utf8ToWide(component);
        const DWORD attributes = GetFileAttributesW(walk.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
        if (slash == std::string::npos || slash + 1 == relative.size()) return false;
        start = slash + 1;
    }
}
