#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/handles_win.h"
#include "base/wstring.h"

// A program that a test starts: both handles owned, so none is ever closed twice or left open.
struct ChildProcess {
    UniqueKernelHandle process;
    UniqueKernelHandle thread;
    DWORD threadId = 0;
    explicit operator bool() const { return static_cast<bool>(process); }
};

struct ChildOptions {
    ChildOptions() = default;
    explicit ChildOptions(const WString& folder) : workingFolder(folder) {}

    WString workingFolder;  // empty: the test's own
    WString outputPath;     // standard output goes to this file (created anew); empty: inherited
    WString errorPath;      // standard error; empty: the output file, when there is one
};

// Starts `application` (empty: the first word of the command line) with the whole command line,
// program name first. An empty result when it could not be started.
[[nodiscard]] ChildProcess startChild(const WString& application, std::wstring commandLine,
                                      const ChildOptions& options = {});

// Starts a Linux program (Wine runs it directly). Wine returns no usable handles for it: the
// handle and id fields of its answer hold stray values, which must never be closed (they may name
// handles of this process). So nothing is kept; the caller watches the program's files instead.
[[nodiscard]] bool startLinuxProgram(std::wstring commandLine);

// Waits at most `limitMs` for the child to end and returns its exit code. A child still running
// then is terminated and waited for; the result is then empty.
[[nodiscard]] std::optional<DWORD> waitForChild(const ChildProcess& child, DWORD limitMs);
