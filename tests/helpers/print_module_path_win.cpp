// Writes the launcher's view of its own location, modulePath() and launcherFolder() on two lines
// in UTF-8, to the file named by the first argument.
#include <windows.h>

#include <cstdio>

#include "base/paths_win.h"
#include "base/unique_handle.h"
#include "config/text_convert.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    UniqueFile out(_wfopen(argv[1], L"wb"));
    if (!out) return 1;
    const std::string text = wideToUtf8(modulePath()) + "\n" + wideToUtf8(launcherFolder()) + "\n";
    std::fwrite(text.data(), 1, text.size(), out.get());
    return 0;
}
