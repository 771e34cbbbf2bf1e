#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/wstring.h"

struct UpdateEngine;

// Where an update run goes. The launcher uses the compiled-in servers and its own folder; tests
// and the headless update tool point a run at servers and folders of their own.
struct UpdateRunSetup {
    // Server base URLs (each ending in "/patch") in the order they are tried: primary, fallback.
    std::vector<std::string> serverBaseUrls;
    // Where the self-update downloads the new launcher and keeps the old one as a backup; empty
    // means the running launcher's folder.
    WString launcherFolder;
    // False only in the headless tool, whose own executable is not a launcher to be replaced.
    bool mayUpdateLauncher = true;
};

// The compiled-in update servers and the running launcher's folder.
[[nodiscard]] UpdateRunSetup launcherRunSetup();

// One update run of the engine's branch folder: the server loop over `setup.serverBaseUrls`.
// Returns the final run state; the engine holds the matching status text. Failures that another
// server may cure (no descriptor, bad patch information, failed downloads) move on to the next
// server; files that could not be checked, and are not to be skipped, make the run alternate
// between the servers; files in use end the run at once. The cancel request ends the loop before
// the next attempt. Worker thread only; a successful self-update ends the process inside.
int32_t runUpdate(UpdateEngine& engine, const UpdateRunSetup& setup);

// One pass of the sequence against one server: news, installed version, descriptor, launcher
// self-update, version decision, patch information, local check, bundle, downloads, result.
// True exactly when the attempt ends in kStateFinished. `lastServer` decides whether a failed download
// is shown as a list (only the last server's failures are).
[[nodiscard]] bool runServerAttempt(UpdateEngine& engine, const std::string& serverBaseUrl, bool lastServer,
                                    const UpdateRunSetup& setup);
