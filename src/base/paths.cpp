#include "base/paths.h"

WString folderOfPath(const WString& path) {
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == WString::npos) return path;
    return path.substr(0, cut);
}
