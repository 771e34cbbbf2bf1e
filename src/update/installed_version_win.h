#pragma once

#include <cstdint>

#include "base/wstring.h"

struct UpdateEngine;

// The version installed in a branch folder, from the first line of VarnholdLauncher.ini there.
// A missing, empty or unreadable file, or one that holds no number, gives 0, so the folder then
// receives the whole release. Publishes kStateDetectingVersion and its status text. Worker thread only.
[[nodiscard]] int32_t readInstalledVersion(UpdateEngine& engine, const WString& branchFolder);

// Replaces VarnholdLauncher.ini with the decimal digits of the version and nothing else, through a
// ".new" file. A failure leaves the old file and is not reported.
void writeInstalledVersion(const WString& branchFolder, int32_t version);
