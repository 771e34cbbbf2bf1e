#pragma once

#include <cstdint>
#include <string>

#include "base/wstring.h"
#include "update/manifest.h"

struct UpdateEngine;

// Fetches the release's small-files bundle (`pack` is the SHA-256 of its gzip copy, also its name
// on the server) and replaces from it every file marked needsUpdate, clearing the flag of each file
// it replaced. It is an optimisation only: whatever it does not deliver stays marked for the
// single-file downloads, and it reports nothing. Nothing of the bundle is left in the game folder,
// except the part of a download that broke off: the next server, or a later run, goes on from it
// (the run removes it once it has brought the folder up to date). A `packSize` above 0 bounds the
// download: a longer body fails it.
void applyBundle(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder,
                 const std::string& releaseBaseUrl, const std::string& pack, int32_t packSize);

// The compressed bundle's copy in the game folder (its note lies beside it).
[[nodiscard]] WString bundleCopyPath(const WString& gameFolder);
