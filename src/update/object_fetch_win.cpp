#include "update/object_fetch_win.h"

#include <windows.h>

#include "base/run_log.h"
#include "base/saturating.h"
#include "crypto/sha256_win.h"

namespace {

constexpr size_t kHashTextLength = 64;

uint64_t fileSizeOf(const WString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// One line for a download that did not simply run from byte 0 to the end.
void logResumption(const ObjectRequest& object, const ResumableObject& resume) {
    if (resume.foundOnDisk == 0 && resume.resumedAttempts == 0 && resume.restarts == 0) return;
    std::string line = object.what + " " + object.url + ":";
    if (resume.foundOnDisk > 0) {
        line += " found " + std::to_string(resume.foundOnDisk) + " bytes of an earlier download;";
    }
    if (resume.resumedAttempts > 0) {
        line += " went on where the copy ended " + std::to_string(resume.resumedAttempts) + " times;";
    }
    if (resume.restarts > 0) {
        line += " started again from byte 0 " + std::to_string(resume.restarts) +
                " times (last: " + resume.restartReason + ");";
    }
    line.pop_back();
    logLine(line);
}

// One download and the hash of the copy; `resumed` tells whether the copy holds bytes from before
// this download's first answer.
ObjectFetchResult downloadAndHash(const ObjectRequest& object, bool fromZero, std::atomic<int32_t>* fileBytes,
                                  std::atomic<int32_t>* totalBytes, bool& resumed) {
    ResumableObject resume;
    resume.identity = object.sha256;
    resume.size = object.size;
    resume.fromZero = fromZero;
    ObjectFetchResult result;
    const bool fetched = downloadToFile(object.url, object.copy, fileBytes, totalBytes, &result.lastFailure,
                                        object.maxBytes, &resume);
    logResumption(object, resume);
    resumed = resume.resumed;
    result.resumable = !fetched && resume.kept > 0;
    if (!fetched) return result;
    result.hash = sha256FileHex(object.copy);
    result.outcome = result.hash.size() != kHashTextLength ? ObjectFetch::Unreadable
                     : result.hash != object.sha256        ? ObjectFetch::Mismatch
                                                           : ObjectFetch::Verified;
    return result;
}

}  // namespace

ObjectFetchResult fetchObject(const ObjectRequest& object, std::atomic<int32_t>* fileBytes,
                              std::atomic<int32_t>* totalBytes) {
    bool resumed = false;
    const ObjectFetchResult first = downloadAndHash(object, false, fileBytes, totalBytes, resumed);
    if (first.outcome != ObjectFetch::Mismatch || !resumed) return first;
    // Bytes kept from before may belong to another copy (a power cut leaves a file's end unwritten,
    // a server may have changed the object): the whole object once more, from byte 0.
    logLine(object.what + " " + object.url + ": the resumed copy failed verification (SHA-256 " + first.hash +
            "), fetching it once more from byte 0");
    if (totalBytes) addSaturating(*totalBytes, -static_cast<int64_t>(fileSizeOf(object.copy)));
    if (fileBytes) fileBytes->exchange(0);
    discardCopy(object.copy);
    bool again = false;
    return downloadAndHash(object, true, fileBytes, totalBytes, again);
}
