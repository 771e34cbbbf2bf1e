#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/wstring.h"

struct UpdateEngine;

// One file of a release, as listed by checksums.txt.
struct ManifestEntry {
    std::string path;        // UTF-8, "/" separators, relative to the game folder, case kept
    int32_t size = 0;        // bytes on disk, 0 allowed
    int32_t packedSize = 0;  // bytes of the compressed copy on the server, at least 1
    std::string crc32;       // 8 upper-case hexadecimal digits
    std::string sha256;      // 64 hexadecimal digits as written (only lower case can ever match)
    bool needsUpdate = false;
    bool failed = false;
    WString reason;  // why `failed` is set, in the language current when it was set
};

// Entries in the order of the manifest's lines. Empty means the text was rejected.
using FileManifest = std::vector<ManifestEntry>;

// Parses a verified manifest strictly: one malformed or unsafe line rejects the whole text, so no
// part of a rejected manifest is ever used and no listed path can leave the game's own folders. No
// path may be another path followed by ".gz" or ".new" (the update's temporary copies beside it).
// Sets the engine's bytesDone to 0 and bytesTotal to the sum of the accepted sizes.
[[nodiscard]] FileManifest parseManifest(std::string_view text, UpdateEngine& engine);

// The same without progress numbers, for callers outside an update run (fuzzers, tools).
[[nodiscard]] FileManifest parseManifestText(std::string_view text);

// The line of a list text that begins at `start`: the bytes up to the next LF, without one CR
// before it. Moves `start` past the LF (or to the end of the text).
[[nodiscard]] std::string_view nextListLine(std::string_view text, size_t& start);

// Every path rule of the manifest: a relative "/"-separated path without "..", backslash, colon,
// control bytes, empty or dot-led components, that isAllowedGamePath accepts. The uninstall applies
// the same rules to its list.
[[nodiscard]] bool isSafeGamePath(std::string_view path);

// "mss32.dll" in the root, or a path below one of the six game data folders (any letter case of
// the prefix, and longer than the prefix).
[[nodiscard]] bool isAllowedGamePath(std::string_view path);

// Decimal digits only, at most 2147483647; zero only when allowed.
[[nodiscard]] std::optional<int32_t> parseManifestNumber(std::string_view field, bool allowZero);
