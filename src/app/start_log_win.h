#pragma once

struct LauncherApp;

// The run log's lines about the launcher's own life; none of them throws.

// First thing after the log is opened: the launcher's version, the system (Windows version and
// build, Wine when it runs there, 32 or 64 bits, elevation) and the command line.
void logLauncherStart(const wchar_t* commandTail) noexcept;

// Once the window exists: the screen as measured, the interface language and the branch folders.
void logWindowReady(const LauncherApp& app) noexcept;

// The text of an error that ends the launcher through the "Error!" box.
void logFatalError(const char* message) noexcept;
