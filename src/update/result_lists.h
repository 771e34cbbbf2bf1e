#pragma once

#include "base/wstring.h"
#include "config/settings.h"
#include "update/manifest.h"
#include "update/update_texts.h"  // the list headers kCheckFailuresHeader, kUpdateFailuresHeader

struct UpdateEngine;

// The header, then the first three failed files with their reasons, one per line; places that no
// failed file fills stay as bare line feeds, so there are always three lines after the header.
// More than three failures add the overflow line with the number of the rest.
[[nodiscard]] WString buildFailureListText(const FileManifest& manifest, const WString& header);

// Puts the list to the window as a question and waits, polling every 100 ms, until the window
// answers or the run is cancelled. Returns the continue-anyway answer. A cancelled run asks
// nothing and returns the answer an earlier question left. Worker thread only.
[[nodiscard]] bool presentFailureList(UpdateEngine& engine, const FileManifest& manifest,
                                      const WString& header);
