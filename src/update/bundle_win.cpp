#include "update/bundle_win.h"

#include <windows.h>

#include <zlib.h>

#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "base/run_log.h"
#include "base/unique_handle.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "update/bundle_container.h"
#include "update/file_update_win.h"
#include "update/local_check.h"
#include "update/local_check_win.h"
#include "update/object_fetch_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr size_t kBufferSize = 65536;

// Downloads, verifies and unpacks the bundle into `unpacked`; the unpacked copy is gone afterwards
// unless this returns true. The compressed copy is gone too, except the part of a download that
// broke off: it stays, with its note, for the next server or run to go on from (bundleCopyPath).
bool fetchBundle(UpdateEngine& engine, const WString& gameFolder, const std::string& releaseBaseUrl,
                 const std::string& pack, int32_t packSize, const WString& unpacked) {
    ObjectRequest object;
    object.url = releaseBaseUrl + "/files/" + pack + ".gz";
    object.copy = bundleCopyPath(gameFolder);
    // Exact comparison: a pack value in upper case can never match the computed hash.
    object.sha256 = pack;
    // The signed descriptor announces the bundle's size (when it does): a server that sends more
    // fails the download instead of filling the disk.
    object.size = packSize > 0 ? static_cast<uint64_t>(packSize) : 0;
    object.maxBytes = packSize > 0 ? object.size : kNoByteLimit;
    object.what = "bundle";
    const ObjectFetchResult fetched = fetchObject(object, &engine.currentDone, nullptr);
    if (fetched.outcome == ObjectFetch::DownloadFailed) {
        logLine("bundle " + object.url + ": " + describeTransferOutcome(lastTransferOutcome()));
        // Only the part of a transfer that broke off is worth keeping; nothing else of a bundle
        // stays (a copy left before, one from a server that sent too much).
        if (!fetched.resumable) discardCopy(object.copy);
        deleteFileQuietly(unpacked);
        return false;
    }
    const bool verified = fetched.outcome == ObjectFetch::Verified;
    const bool unpackedOk = verified && gunzipFile(object.copy, unpacked);
    discardCopy(object.copy);
    if (!unpackedOk) deleteFileQuietly(unpacked);
    if (!unpackedOk)
        logLine("bundle " + object.url + (verified ? ": could not unpack" : ": failed verification"));
    return unpackedOk;
}

// Extracts one wanted record into target + ".new" and moves it over the target when its length
// and CRC-32 match. A copy that fails any check is deleted and its entry stays marked. Returns
// false when the container turned out to be cut short.
bool extractRecord(UpdateEngine& engine, std::FILE* container, const BundleRecordHeader& header,
                   ManifestEntry& entry, const WString& gameFolder, std::vector<char>& buffer) {
    const WString target = gameFolder + L"\\" + utf8ToWide(header.name);
    const WString unpacked = target + L".new";
    UniqueKernelHandle out = createFileForWriting(unpacked);
    // The CRC-32 of exactly the bytes the copy took, computed as they go out: reading the copy
    // back would only pass the same bytes through the process a second time.
    uLong crc = crc32(0L, Z_NULL, 0);
    const BundleSink sink = [&out, &crc](const char* data, size_t size) {
        if (!writeAll(out.get(), data, size)) return false;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
        return true;
    };
    // Without a copy to write, the content is still read, so that the next header is found.
    const BundleCopyResult copy =
        copyBundleContent(container, header.length, out ? &sink : nullptr, buffer.data(), buffer.size());
    out.reset();
    const bool good = copy.written && copy.complete && header.length == entry.size &&
                      formatCrc32(static_cast<uint32_t>(crc)) == entry.crc32 &&
                      replaceTarget(unpacked, target);
    if (good) {
        entry.needsUpdate = false;
        addSaturating(engine.filesDone, 1);
        addSaturating(engine.bytesDone, entry.packedSize);
    } else {
        deleteFileQuietly(unpacked);
    }
    return copy.complete;
}

// One pass over the unpacked container, from its start to its end or the first record that
// cannot be trusted. Unwanted records are passed over by seeking.
void applyContainer(UpdateEngine& engine, std::FILE* container, FileManifest& manifest,
                    const WString& gameFolder) {
    std::map<std::string, ManifestEntry*> byPath;
    for (ManifestEntry& entry : manifest) byPath.emplace(entry.path, &entry);
    // Only names of the manifest are remembered: no other name can ever be wanted, so the set
    // stays as small as the manifest however many records the bundle holds.
    std::set<std::string> seen;
    std::vector<char> buffer(kBufferSize);
    LinkFreeFolders proven;

    bool intact = true;
    while (intact) {
        BundleRecordHeader header;
        // A normal end, or a header that cannot be trusted: either way nothing more is read.
        if (readBundleHeader(container, header) != BundleHeaderRead::Record) break;
        const auto found = header.nameTooLong ? byPath.end() : byPath.find(header.name);
        // A repeated name is never wanted, even when its first record failed.
        const bool wanted =
            found != byPath.end() && seen.insert(header.name).second && found->second->needsUpdate;
        if (!wanted) {
            intact = skipBundleContent(container, header.length);
            continue;
        }
        // A link on the way abandons the rest of the bundle; updateFiles reports the link.
        if (crossesReparsePoint(gameFolder, header.name, &proven)) break;
        intact = extractRecord(engine, container, header, *found->second, gameFolder, buffer);
    }
}

int32_t stillDue(const FileManifest& manifest) {
    int32_t due = 0;
    for (const ManifestEntry& entry : manifest) due += entry.needsUpdate ? 1 : 0;
    return due;
}

}  // namespace

WString bundleCopyPath(const WString& gameFolder) { return gameFolder + L"\\_smallpack.gz"; }

void applyBundle(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder,
                 const std::string& releaseBaseUrl, const std::string& pack, int32_t packSize) {
    engine.state.exchange(kStateDownloadingFiles);
    engine.currentDone.store(0);
    engine.currentTotal.store(packSize);
    setCurrentFile(engine, localized(kBundleLabel));

    const int32_t due = stillDue(manifest);
    const WString unpacked = gameFolder + L"\\_smallpack.bin";
    if (!fetchBundle(engine, gameFolder, releaseBaseUrl, pack, packSize, unpacked)) return;
    {
        UniqueFile container(_wfopen(unpacked.c_str(), L"rb"));
        if (container) applyContainer(engine, container.get(), manifest, gameFolder);
    }
    deleteFileQuietly(unpacked);
    // The files the bundle did not bring are downloaded one by one next.
    logLine("bundle " + pack + ": " + std::to_string(due - stillDue(manifest)) + " of " +
            std::to_string(due) + " files applied");
}
