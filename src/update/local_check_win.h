#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/wstring.h"
#include "update/local_check.h"
#include "update/manifest.h"

struct UpdateEngine;

// What the local check found, besides the flags it set on the entries.
struct LocalCheckCounts {
    int32_t couldNotCheck = 0;    // files that exist but could not be judged (failed, with a reason)
    int32_t toUpdate = 0;         // entries marked needsUpdate
    int32_t bytesToDownload = 0;  // their packed sizes, added up (stops at INT32_MAX)
};

// Judges every manifest entry by the size and CRC-32 of its file in the game folder (no trailing
// separator), in manifest order: current, needsUpdate (missing, a folder in its place, wrong
// length, wrong CRC), or failed with a reason (the path passes a link, or the file cannot be
// opened for reading while others may write it). Publishes kStateCheckingFiles and every progress number;
// reads the cancel request before each entry. Worker thread only.
[[nodiscard]] LocalCheckCounts checkLocalFiles(UpdateEngine& engine, FileManifest& manifest,
                                               const WString& gameFolder);

// True when any existing folder or file on the way from the game folder to the relative path (the
// game folder itself not included) is a reparse point: a symbolic link, a junction or any other
// kind. No game file is ever read or written through one. `proven` holds the folders that the
// calling pass has already found free of links (see LinkFreeFolders); the file itself is always
// asked about.
[[nodiscard]] bool crossesReparsePoint(const WString& gameFolder, std::string_view relativePathUtf8,
                                       LinkFreeFolders* proven = nullptr);

// The CRC-32 text of a file's bytes, or "" when the file cannot be opened or read to its end.
[[nodiscard]] std::string crc32FileHex(const WString& path);
