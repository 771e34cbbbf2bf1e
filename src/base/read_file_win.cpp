#include "base/read_file_win.h"

#include <cstdio>

#include "base/unique_handle.h"

std::optional<std::string> readWholeFile(const WString& path) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
    if (std::ferror(file.get())) return std::nullopt;
    return bytes;
}
