#pragma once

#include <windows.h>

#include "base/wstring.h"

inline constexpr wchar_t kCrashDumpFileName[] = L"launcher_crash.dmp";

// How long the crash handler lets the dump take before it ends the process without one. A small
// dump takes well under a second on Windows; Wine's takes several on a busy machine.
inline constexpr DWORD kCrashDumpTimeoutMs = 30000;

// Makes an unhandled exception on any thread, and std::terminate, leave a record in `folder`: a
// small minidump launcher_crash.dmp, a line naming it in the run log, and the same line as the
// only content of launcher_error.log. The exception then goes on to the handler that was installed
// before (by default the system's), which ends the process as it would have without this one. A
// dump that does not finish within `dumpTimeoutMs` ends the process with the exception's code.
// Call once, early in the main thread.
void installCrashHandler(const WString& folder, DWORD dumpTimeoutMs = kCrashDumpTimeoutMs) noexcept;

// Tests only: stands in for the dump itself, so that a test can make it hang. nullptr: the real one.
using CrashDumpWriter = bool (*)(HANDLE file, EXCEPTION_POINTERS* exception);
void setCrashDumpWriterForTests(CrashDumpWriter writer) noexcept;
