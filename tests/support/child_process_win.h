#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/handles_win.h"
#include "base/wstring.h"

// A program that a test starts: both handles owned, so none is ever closed twice or left open.
// Wine starts a Linux program without giving handles for it: it is started, with empty handles.
struct ChildProcess {
    UniqueKernelHandle process;
    UniqueKernelHandle thread;
    DWORD threadId = 0;
    bool started = false;
    explicit operator bool() const { return started; }
};

struct ChildOptions {
    ChildOptions() = default;
    explicit ChildOptions(const WString& folder) : workingFolder(folder) {}

    WString workingFolder;  // empty: the test's own
    WString outputPath;     // standard output goes to this file (created anew); empty: inherited
    WString errorPath;      // standard error; empty: the output file, when there is one
};

// Starts `application` (empty: the first word of the command line, also a Linux program) with the
// whole command line, program name first. An empty result when it could not be started.
[[nodiscard]] ChildProcess startChild(const WString& application, std::wstring commandLine,
                                      const ChildOptions& options = {});

// Waits at most `limitMs` for the child to end and returns its exit code. A child still running
// then is terminated and waited for; the result is then empty, as it is for a child without a handle.
[[nodiscard]] std::optional<DWORD> waitForChild(const ChildProcess& child, DWORD limitMs);
