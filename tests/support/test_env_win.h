#pragma once

#include <optional>
#include <string>

#include "base/wstring.h"
#include "support/wait_until.h"

// Test-side helpers for running under Wine: scratch folders in the build tree, files, and Linux
// commands (chattr, rm, the Python test server) started from the Windows test process.

// "/a/b" -> "Z:\a\b": Wine maps the Linux root to drive Z:.
[[nodiscard]] WString winePathFromUnix(const std::string& unixPath);
[[nodiscard]] std::string unixPathFromWine(const WString& winePath);

// Runs a shell script under /bin/sh on the Linux side and waits for it; returns its exit status,
// or -1 when it did not finish within the time limit. Wine gives no handle for a Linux child, so
// the script reports its status through a file that this function polls.
int runUnixShell(const std::string& script, int timeoutMs = 60000);

// The emulator that runs this program's instructions, as the emulated 32-bit Wine names it
// (VARNHOLD_CPU_EMULATOR, set by scripts/wine32-run.sh); empty where the processor runs them itself.
[[nodiscard]] std::string cpuEmulator();

// Quotes text for a POSIX shell.
[[nodiscard]] std::string shellQuote(const std::string& text);

[[nodiscard]] bool writeFileBytes(const WString& path, const std::string& bytes);
[[nodiscard]] std::optional<std::string> readFileBytes(const WString& path);
[[nodiscard]] bool fileExists(const WString& path);
[[nodiscard]] bool folderExists(const WString& path);

// A fresh, empty folder per test below the build tree's test-run folder, named after the running
// test. Removed from the Linux side (rm does not follow links, unlike deletes under Wine).
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const WString& path() const { return windowsPath; }
    [[nodiscard]] const std::string& unixPath() const { return linuxPath; }
    // path() + "\" + relative ("/" in relative stays; Windows accepts both).
    [[nodiscard]] WString operator/(const std::wstring& relative) const;

private:
    std::string linuxPath;
    WString windowsPath;
};

// Makes a folder immutable on the Linux side for the lifetime of the object. As root, Wine ignores
// Unix permissions, but creating, renaming or deleting inside an immutable folder fails with
// ERROR_ACCESS_DENIED, as it does in a read-only folder on Windows.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const WString& folder);
    ~ImmutableFolder();
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    [[nodiscard]] bool active() const { return applied; }
    // Why the folder could not be made immutable (a file system without the attribute, a user
    // who may not set it); a test that needs it skips with this.
    [[nodiscard]] const std::string& whyNot() const { return reason; }

private:
    std::string linuxPath;
    std::string reason;
    bool applied = false;
};
