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
//
// A stack overflow must find stack to run on: every thread of the process (the calling one, and
// each one started later, through a thread-attach callback) is guaranteed kCrashStackGuaranteeBytes
// for its exception handling. Without it Windows runs the handler with a few kilobytes left, which
// the dump overflows again (no records, no dump), and Wine cannot even dispatch the exception: the
// thread vanishes and the process lives on without it, holding the instance mutex.
void installCrashHandler(const WString& folder, DWORD dumpTimeoutMs = kCrashDumpTimeoutMs) noexcept;

inline constexpr ULONG kCrashStackGuaranteeBytes = 64 * 1024;

// Called first when a crash begins, on the crashing thread, before the records are written: the
// launcher on trial after a self-update puts its backup back (update/hand_over_win.h). It must not
// allocate or take locks. nullptr for none.
using CrashRescue = void (*)() noexcept;
void setCrashRescue(CrashRescue rescue) noexcept;

// Tests only: stands in for the dump itself, so that a test can make it hang. nullptr: the real one.
using CrashDumpWriter = bool (*)(HANDLE file, EXCEPTION_POINTERS* exception);
void setCrashDumpWriterForTests(CrashDumpWriter writer) noexcept;
