#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/wstring.h"
#include "net/http_client_win.h"

// How fetching an object that is named by its SHA-256 ended.
enum class ObjectFetch { Verified, DownloadFailed, Unreadable, Mismatch };

struct ObjectFetchResult {
    ObjectFetch outcome = ObjectFetch::DownloadFailed;
    DownloadFailure lastFailure = DownloadFailure::None;  // of the download, when it failed
    std::string hash;                                     // of the copy, when it could be read
    bool resumable = false;  // the download failed and left a copy that a later one can go on from
};

// Where an object goes, what it is and how far it may grow.
struct ObjectRequest {
    std::string url;
    WString copy;        // the file it is downloaded into
    std::string sha256;  // its name, and the hash the whole copy must have
    uint64_t size = 0;   // its size from signed metadata; 0 when not known
    uint64_t maxBytes = kNoByteLimit;
    std::string what;  // how the run log names it: "file \"Imgs/a.dds\"", "bundle"
};

// Downloads an object into its copy, going on from a copy that an earlier attempt, server or run
// left of the same object, and checks the SHA-256 of the whole copy. A copy that went on from
// earlier bytes and then fails the check is removed and fetched once more from byte 0, with the
// counters taken back. Whether a copy that failed stays is the caller's choice; one whose download
// failed stays with its note, for a later run. `fileBytes` and `totalBytes` as for downloadToFile.
// The run log gets a line when the download went on from earlier bytes or had to start again.
[[nodiscard]] ObjectFetchResult fetchObject(const ObjectRequest& object, std::atomic<int32_t>* fileBytes,
                                            std::atomic<int32_t>* totalBytes);
