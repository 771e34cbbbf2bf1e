#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/wstring.h"

struct UpdateEngine;

// The parsed release descriptor (latest.txt) of one server attempt.
struct ReleaseInfo {
    int32_t gameVersion = 0;       // hundredths: 144 is 1.44; also the release's folder on the server
    int32_t launcherVersion = 0;   // the published launcher
    std::string launcherChecksum;  // SHA-256 hash text of the published launcher
    int32_t launcherSize = 0;
    int32_t updateServers = 0;  // read and kept, used by no step
    std::string pack;           // hash text (and server name) of the small-files bundle
    int32_t packSize = 0;
    std::string displayVersion;
};

// Reads a number as a C base-10 conversion does: leading white space, an optional sign, then the
// digits up to the first other character ("144abc" is 144). Empty text, text that starts with no
// digit, and values outside the signed 32-bit range read as 0. Never fails.
[[nodiscard]] int32_t parseVersionNumber(std::string_view text);

// The number in hundredths shown with two decimals ("1.17" for 117). The division is done in
// single precision, as every released launcher has shown it.
[[nodiscard]] WString formatVersion(int32_t version);

// The installed version from the bytes of VarnholdLauncher.ini: its first line as a number.
[[nodiscard]] int32_t installedVersionFromText(std::string_view fileBytes);

// Parses a descriptor text whose signature has already been verified. Fills `info` (cleared
// first) and stores into the engine, in this order, the launcher size (currentTotal), the
// "Launcher update" label (currentFile), the pack value and the pack size; the display version
// only while the engine's is still empty. False on an INI syntax error, with nothing stored.
[[nodiscard]] bool applyReleaseDescriptor(UpdateEngine& engine, std::string_view text, ReleaseInfo& info);

// The running launcher replaces itself when a newer launcher is published and its own hash text
// differs from the published one (exact comparison, so an upper-case checksum never matches).
[[nodiscard]] bool isSelfUpdateDue(const ReleaseInfo& info, const std::string& runningLauncherHash);

// What the run does with the release, decided in this order.
enum class VersionDecision {
    NoUsableRelease,   // game version below 1: "Could not connect to the update server!"
    DowngradeRefused,  // the server is older than the installed version
    AlreadyInstalled,  // equal, and verifyAll not requested
    CheckFiles,        // newer on the server, or equal with verifyAll
};
[[nodiscard]] VersionDecision decideVersion(int32_t serverVersion, int32_t installedVersion, bool verifyAll);
