#pragma once

#include <string>

#include "update/release_info.h"

struct UpdateEngine;

// Fetches <branch base>/latest.txt and latest.sig, verifies the signature over the exact bytes and
// parses the text into `info` (cleared first), with the engine effects of applyReleaseDescriptor.
// Publishes kStateCheckingForUpdates and its status text. A 404 for latest.txt sets the engine's notPublished
// flag. False when either file cannot be fetched, the signature does not verify or the text is not INI.
// Worker thread only.
[[nodiscard]] bool fetchReleaseInfo(UpdateEngine& engine, const std::string& branchBaseUrl,
                                    ReleaseInfo& info);
