#pragma once

#include <windows.h>

#include <string>

#include "base/handles_win.h"
#include "base/wstring.h"
#include "support/child_process_win.h"

// Another process that holds a file open for the lifetime of this object (the helper program
// hold_open_file.exe). Sharing is enforced across processes, so this shows what a game or an
// editor holding the file does to the launcher.
//   access:  L"r", L"w" or L"rw"
//   sharing: any of L"r", L"w", L"d", or L"-" for none
class FileHolder {
public:
    FileHolder(const WString& path, const std::wstring& access, const std::wstring& sharing);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // True once the other process has the file open.
    [[nodiscard]] bool holding() const { return held; }
    // Lets the other process close the file and end; true once it has ended (within 10 s).
    bool release();

private:
    UniqueKernelHandle ready;
    UniqueKernelHandle releaseEvent;
    ChildProcess child;
    bool held = false;
};
