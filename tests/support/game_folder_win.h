#pragma once

#include <windows.h>

#include <string>

#include "base/wstring.h"
#include "branches/folder_rules.h"
#include "support/test_env_win.h"

// Test game folders on disk, built from real files, for the branch and the window tests.

// Creates a folder and every missing parent.
[[nodiscard]] inline bool makeFolders(const WString& folder) {
    if (folderExists(folder)) return true;
    const size_t cut = folder.find_last_of(L"\\/");
    if (cut != WString::npos && cut > 2 && !makeFolders(folder.substr(0, cut))) return false;
    return CreateDirectoryW(folder.c_str(), nullptr) != 0;
}

// Every required game file and folder (each folder holding one file), but neither Mss23.dll nor
// mss32.dll.
[[nodiscard]] inline bool makeCompleteGameFolder(const WString& folder) {
    if (!makeFolders(folder)) return false;
    for (const wchar_t* name : kRequiredGameFiles) {
        if (!writeFileBytes(folder + L"\\" + name, "game file")) return false;
    }
    for (const wchar_t* name : kRequiredGameFolders) {
        if (!makeFolders(folder + L"\\" + name)) return false;
        if (!writeFileBytes(folder + L"\\" + name + L"\\data.bin", "data")) return false;
    }
    return true;
}

// One of the resource-only DLLs of the test build.
[[nodiscard]] inline WString testDllPath(const char* name) {
    return winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/" + name + ".dll");
}
