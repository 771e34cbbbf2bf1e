#include "update/local_check_win.h"

#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <vector>

#include "app/handles_win.h"
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

std::string crc32FileHex(const WString& path) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return {};
    std::vector<unsigned char> buffer(65536);
    uLong crc = crc32(0L, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        crc = crc32(crc, buffer.data(), got);
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
    return text;
}
