#include "update/file_update_win.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "base/run_log.h"
#include "base/unique_handle.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "update/local_check.h"
#include "update/local_check_win.h"
#include "update/object_fetch_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr size_t kBufferSize = 65536;

// Virus scanners, indexers and backup tools open a file for a moment, often the fresh unpacked copy
// right after it was closed. A rename that meets such a lock is tried again for about 2 s before
// the file counts as one that could not be replaced; a lock that outlasts that (a running game)
// still blocks.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplacePauseMs = 100;

std::atomic<ReplaceTargetFunction> replaceForTests{nullptr};

struct GzipFileTraits {
    using Native = gzFile;
    static Native empty() { return nullptr; }
    static bool isValid(Native f) { return f != nullptr; }
    static void close(Native f) { gzclose(f); }
};
using UniqueGzipFile = UniqueHandle<GzipFileTraits>;

// Why an entry failed, and whether the cause lies on the local side.
struct EntryFailure {
    const TextPair* reason = nullptr;
    bool blocked = false;
    std::string detail;  // for the run log: what the last transfer came to, or the system's error
};

std::string systemError(DWORD error) { return "error " + std::to_string(error); }

// One entry through download, hash, unpack, check and rename. Returns no reason on success.
EntryFailure updateEntry(UpdateEngine& engine, ManifestEntry& entry, const WString& gameFolder,
                         const std::string& releaseBaseUrl, LinkFreeFolders& proven) {
    if (crossesReparsePoint(gameFolder, entry.path, &proven)) return {&kReasonCrossesLink, true, {}};

    engine.currentDone.store(0);
    engine.currentTotal.store(entry.packedSize);
    const WString relative = utf8ToWide(entry.path);
    setCurrentFile(engine, relative);

    const std::string objectUrl = releaseBaseUrl + "/files/" + entry.sha256 + ".gz";
    const WString target = gameFolder + L"\\" + relative;
    const WString compressed = target + L".gz";
    const WString unpacked = target + L".new";

    ObjectRequest object;
    object.url = objectUrl;
    object.copy = compressed;
    object.sha256 = entry.sha256;
    // The signed manifest announces the compressed size: a server that sends more fails here
    // instead of filling the disk next to the target.
    object.size = static_cast<uint64_t>(std::max<int32_t>(entry.packedSize, 0));
    object.maxBytes = object.size;
    object.what = "file \"" + entry.path + "\"";
    // A copy that broke off goes on where it ended, also when an earlier run left it.
    const ObjectFetchResult fetched = fetchObject(object, &engine.currentDone, &engine.bytesDone);
    switch (fetched.outcome) {
        case ObjectFetch::Verified:
            break;
        case ObjectFetch::DownloadFailed:
            return {&kReasonDownload, fetched.lastFailure == DownloadFailure::LocalFile,
                    objectUrl + ": " + describeTransferOutcome(lastTransferOutcome())};
        case ObjectFetch::Unreadable:
            return {&kReasonHashUnreadable, true, {}};
        case ObjectFetch::Mismatch:
            // The compressed copy stays next to the target: the next run overwrites it from its start.
            return {&kReasonHashMismatch, false, "SHA-256 of " + objectUrl + " is " + fetched.hash};
    }

    int64_t unpackedSize = 0;
    uint32_t unpackedCrc = 0;
    if (!gunzipFile(compressed, unpacked, &unpackedSize, &unpackedCrc)) {
        deleteFileQuietly(unpacked);
        return {&kReasonUnpack, true, {}};
    }
    // The CRC-32 of exactly the bytes the copy received, taken as they were written: reading the
    // copy back would only pass the same bytes through the process a second time.
    if (unpackedSize != entry.size || formatCrc32(unpackedCrc) != entry.crc32) {
        deleteFileQuietly(unpacked);
        return {&kReasonUnpackedMismatch, true,
                std::to_string(unpackedSize) + " bytes, CRC-32 " + formatCrc32(unpackedCrc)};
    }
    // The only change the target ever sees: replaced whole, or left as it was.
    if (!replaceTarget(unpacked, target)) {
        const DWORD error = GetLastError();
        deleteFileQuietly(unpacked);
        return {&kReasonReplace, true, systemError(error)};
    }
    deleteFileQuietly(compressed);
    return {};
}

}  // namespace

void deleteFileQuietly(const WString& path) { DeleteFileW(path.c_str()); }

bool replaceTarget(const WString& replacement, const WString& target) {
    for (int attempt = 1;; ++attempt) {
        const ReplaceTargetFunction replace = replaceForTests.load();
        const bool replaced = replace
                                  ? replace(replacement, target)
                                  : MoveFileExW(replacement.c_str(), target.c_str(),
                                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        if (replaced) return true;
        const DWORD error = GetLastError();
        // Only a lock can pass; a missing folder or a full disk does not go away by waiting.
        const bool locked =
            error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!locked || attempt == kReplaceAttempts) return false;
        Sleep(kReplacePauseMs);
    }
}

void setReplaceTargetForTests(ReplaceTargetFunction replace) { replaceForTests.store(replace); }

bool writeAll(HANDLE file, const char* data, size_t size) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool gunzipFile(const WString& source, const WString& destination, int64_t* unpackedSize,
                uint32_t* unpackedCrc) {
    if (unpackedSize) *unpackedSize = 0;
    if (unpackedCrc) *unpackedCrc = 0;
    UniqueGzipFile reader(gzopen_w(source.c_str(), "rb"));
    if (!reader) return false;
    // Written with WriteFile: nothing stays buffered in the process, so a block is on its way to
    // the disk once the call has taken all of it.
    UniqueKernelHandle writer(CreateFileW(destination.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!writer) return false;

    std::vector<char> buffer(kBufferSize);
    int64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool ok = true;
    for (;;) {
        const int got = gzread(reader.get(), buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!writeAll(writer.get(), buffer.data(), static_cast<size_t>(got))) {
            ok = false;
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(got));
        total += got;
    }
    writer.reset();
    // gzclose reports a stream that ended before its proper end (a truncated download).
    const bool readerClosed = gzclose(reader.release()) == Z_OK;
    if (!(ok && readerClosed)) return false;
    if (unpackedSize) *unpackedSize = total;
    if (unpackedCrc) *unpackedCrc = static_cast<uint32_t>(crc);
    return true;
}

void updateFiles(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder,
                 const std::string& releaseBaseUrl, int32_t filesToDo, int32_t bytesToDo,
                 int32_t& failedCount, int32_t& blockedCount) {
    engine.filesDone.store(0);
    engine.filesTotal.store(filesToDo);
    engine.bytesDone.store(0);
    engine.bytesTotal.store(bytesToDo);
    engine.state.exchange(kStateDownloadingFiles);
    failedCount = 0;
    blockedCount = 0;

    LinkFreeFolders proven;
    const ULONGLONG started = GetTickCount64();
    for (ManifestEntry& entry : manifest) {
        // A file in progress is always finished before a stop.
        if (engine.stopRequested.load()) break;
        entry.failed = false;
        if (!entry.needsUpdate) continue;

        const EntryFailure failure = updateEntry(engine, entry, gameFolder, releaseBaseUrl, proven);
        if (!failure.reason) {
            addSaturating(engine.filesDone, 1);
            continue;
        }
        entry.failed = true;
        entry.reason = localized(*failure.reason);
        ++failedCount;
        if (failure.blocked) ++blockedCount;
        logLine("file \"" + entry.path + "\": " + wideToUtf8(failure.reason->english) +
                (failure.detail.empty() ? "" : " (" + failure.detail + ")"));
    }
    // Only failed files have a line of their own.
    logLine("downloads: " + std::to_string(engine.filesDone.load()) + " files updated, " +
            std::to_string(failedCount) + " failed (" + std::to_string(blockedCount) +
            " on this computer's side)" + (engine.stopRequested.load() ? ", stopped" : "") + ", " +
            std::to_string(GetTickCount64() - started) + " ms");
}
