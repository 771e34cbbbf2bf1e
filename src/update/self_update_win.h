#pragma once

#include <cstdint>
#include <string>

#include "base/wstring.h"

struct UpdateEngine;

// Replaces the running launcher with the published one and hands over to it. The old executable
// stays as "old_launcher.bak" until the new process reports that its window is up; a new launcher
// that ends first is replaced by the backup, which is started again. Returns false when the
// update did not happen (nothing changed, the caller goes on with the game files); when it
// happens the process ends here with exit code 0 through ExitProcess, without static clean-up.
// A release whose launcher once ended before its window came up is remembered by its checksum
// (failed_launcher.txt in the launcher folder) and never taken again.
[[nodiscard]] bool selfUpdate(UpdateEngine& engine, const WString& launcherFolder,
                              const std::string& branchBaseUrl, const std::string& launcherChecksum);

// Starts a program with ShellExecuteExW (default verb, no owner, SW_SHOWDEFAULT) without keeping
// a process handle and without the system's error dialog: the caller reports a failed start.
[[nodiscard]] bool startProcess(const WString& executable, const WString& parameters);

// Tests only: how long the old launcher waits for the new one (30 s in the product).
void setHandOverWaitForTests(uint32_t milliseconds);
