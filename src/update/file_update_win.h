#pragma once

#include <cstdint>
#include <string>

#include "base/handles_win.h"
#include "base/wstring.h"
#include "update/manifest.h"

struct UpdateEngine;

// Brings every entry marked needsUpdate to its manifest state, one file after the other: the gzip
// copy is downloaded next to the target, its SHA-256 checked, unpacked next to the target, the
// unpacked size and CRC-32 checked, and only then moved over the target in one rename. The
// target is never opened for writing. Failures are per file (`failed`, `reason`); `blockedCount`
// counts those on the local side (locks, rights) rather than the network or the server. A body
// longer than the entry's packedSize fails its download like a broken connection, so a server
// cannot fill the disk. `filesToDo` and `bytesToDo` only feed the progress display.
void updateFiles(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder,
                 const std::string& releaseBaseUrl, int32_t filesToDo, int32_t bytesToDo,
                 int32_t& failedCount, int32_t& blockedCount);

// Decompresses a gzip file into a new file through zlib's gzip reader. A source without a gzip
// header is copied unchanged; a truncated or corrupt stream never succeeds. `unpackedSize`
// receives the bytes written on success (0 otherwise), `unpackedCrc` the CRC-32 of those bytes,
// computed as each block is written. On failure the destination is left for the caller to delete.
[[nodiscard]] bool gunzipFile(const WString& source, const WString& destination,
                              int64_t* unpackedSize = nullptr, uint32_t* unpackedCrc = nullptr);

// WriteFile of the whole block; false when the file took less.
[[nodiscard]] bool writeAll(HANDLE file, const char* data, size_t size);

// Removes a file by path; a file that is absent or cannot be removed is ignored.
void deleteFileQuietly(const WString& path);

// The one rename through which a game file changes: MoveFileExW with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH (9), so no copy fallback and no delay until reboot. The target is replaced
// whole or left as it was. A rename refused by a lock (sharing violation, access denied) is tried
// again for about 2 s, so that a scanner holding a file for a moment does not fail the update.
[[nodiscard]] bool replaceTarget(const WString& replacement, const WString& target);

// Tests only: a stand-in for the rename of replaceTarget, or nullptr for MoveFileExW again. Wine
// lets an elevated process move a file over a read-only target, which Windows refuses; the tests
// of that refusal install a rename that refuses the way Windows does.
using ReplaceTargetFunction = bool (*)(const WString& replacement, const WString& target);
void setReplaceTargetForTests(ReplaceTargetFunction replace);
