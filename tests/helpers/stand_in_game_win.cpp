// Stands in for the game executable in the launch tests: copied into a game folder as
// Tharnvl2.exe, it writes stand_in_game.log beside itself with its working folder and arguments
//   folder=<working folder>
//   arguments=<count>
//   argument=<each, one per line>
// and ends a moment later (a launcher that started it through the desktop's shell looks for its
// process).
#include <windows.h>

#include <string>
#include <vector>

#include "base/handles_win.h"
#include "base/paths_win.h"
#include "config/text_convert.h"

namespace {
constexpr DWORD kRunMs = 1500;
}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<wchar_t> folder(GetCurrentDirectoryW(0, nullptr) + 1);
    GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    std::string log =
        "folder=" + wideToUtf8(folder.data()) + "\narguments=" + std::to_string(argc - 1) + "\n";
    for (int i = 1; i < argc; ++i) log += "argument=" + wideToUtf8(argv[i]) + "\n";

    // Written aside and renamed, so that a reader never sees half a log.
    const WString path = launcherFolder() + L"\\stand_in_game.log";
    {
        UniqueKernelHandle file(CreateFileW((path + L".new").c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), log.data(), static_cast<DWORD>(log.size()), &written, nullptr)) {
            return 1;
        }
    }
    const bool written = MoveFileExW((path + L".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    Sleep(kRunMs);
    return written ? 0 : 1;
}
