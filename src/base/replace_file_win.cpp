#include "base/replace_file_win.h"

#include <windows.h>

#include <cstdio>

#include "base/unique_handle.h"

bool replaceFileContents(const WString& target, const std::string& bytes) {
    const WString temporary = target + L".new";
    UniqueFile file(_wfopen(temporary.c_str(), L"wb"));
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
    const bool closed = std::fclose(file.release()) == 0;
    if (written && flushed && closed &&
        MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteFileW(temporary.c_str());
    return false;
}
