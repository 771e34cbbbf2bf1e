#include "update/local_check_win.h"

#include <windows.h>

#include <zlib.h>

#include <vector>

#include "base/handles_win.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "update/local_check.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr DWORD kReadBlockBytes = 65536;
constexpr int32_t kMissingFileProgress = 100;

// Read access that lets other readers in but nobody who writes: a file that some program is
// writing right now cannot be judged, and is reported rather than guessed at.
UniqueKernelHandle openForReading(const WString& path) {
    return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

struct CrcResult {
    uint32_t crc = 0;
    bool complete = false;  // read to the end without an error
};

// Feeds the file to the CRC in blocks until a read yields nothing; a read error ends it there.
template <typename OnBlock>
CrcResult crcOfOpenFile(HANDLE file, std::vector<unsigned char>& buffer, OnBlock onBlock) {
    CrcResult result;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return result;
        if (got == 0) break;
        crc = crc32(crc, buffer.data(), got);
        onBlock(static_cast<int32_t>(got));
    }
    result.crc = static_cast<uint32_t>(crc);
    result.complete = true;
    return result;
}

void markFailed(ManifestEntry& entry, const TextPair& reason, LocalCheckCounts& counts) {
    entry.needsUpdate = false;
    entry.failed = true;
    entry.reason = localized(reason);
    ++counts.couldNotCheck;
    logLine("could not check \"" + entry.path + "\": " + wideToUtf8(reason.english));
}

void markForUpdate(ManifestEntry& entry, LocalCheckCounts& counts) {
    entry.needsUpdate = true;
    ++counts.toUpdate;
    counts.bytesToDownload = sumSaturating(counts.bytesToDownload, entry.packedSize);
}

// Whether a file that could not be opened is simply not there (or is a folder), as opposed to one
// that exists but cannot be read now. `openError` is the open's GetLastError().
bool isMissing(const WString& path, DWORD openError) {
    // These two say so already; asking for the attributes as well would cost another lookup.
    if (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND) return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void checkEntry(UpdateEngine& engine, ManifestEntry& entry, const WString& gameFolder,
                const WString& relative, std::vector<unsigned char>& buffer, LinkFreeFolders& proven,
                LocalCheckCounts& counts) {
    if (crossesReparsePoint(gameFolder, entry.path, &proven)) {
        markFailed(entry, kReasonCrossesLink, counts);
        return;
    }
    const WString path = gameFolder + L"\\" + relative;
    // Opened first: a present file costs one lookup, and only a failed open is looked into.
    UniqueKernelHandle file = openForReading(path);
    bool missing = false;
    if (!file) {
        missing = isMissing(path, GetLastError());
        if (!missing) {
            markFailed(entry, kReasonCannotOpenForCheck, counts);
            return;
        }
    }
    if (!missing) {
        LARGE_INTEGER length{};
        // A length that cannot be read is treated like a wrong one: the file is fetched anew.
        missing = !GetFileSizeEx(file.get(), &length) || length.QuadPart != entry.size;
        if (!missing) {
            engine.currentTotal.store(entry.size);
            const CrcResult crc = crcOfOpenFile(file.get(), buffer, [&engine](int32_t got) {
                addSaturating(engine.currentDone, got);
                addSaturating(engine.bytesDone, got);
            });
            if (formatCrc32(crc.crc) != entry.crc32 || !crc.complete) {
                markForUpdate(entry, counts);
            } else {
                entry.needsUpdate = false;
            }
            addSaturating(engine.filesDone, 1);
            return;
        }
    }
    markForUpdate(entry, counts);
    engine.currentDone.store(kMissingFileProgress);
}

}  // namespace

LocalCheckCounts checkLocalFiles(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder) {
    engine.filesDone.store(0);
    engine.filesTotal.store(static_cast<int32_t>(manifest.size()));
    engine.bytesDone.store(0);
    engine.state.store(kStateCheckingFiles);
    setStatusText(engine, WString());

    LocalCheckCounts counts;
    std::vector<unsigned char> buffer(kReadBlockBytes);
    LinkFreeFolders proven;
    const ULONGLONG started = GetTickCount64();
    for (ManifestEntry& entry : manifest) {
        // Read once per entry, so a large file is always finished before the check stops.
        if (engine.stopRequested.load()) break;
        engine.currentDone.store(0);
        engine.currentTotal.store(kMissingFileProgress);
        const WString relative = utf8ToWide(entry.path);
        setCurrentFile(engine, relative);
        checkEntry(engine, entry, gameFolder, relative, buffer, proven, counts);
    }
    // One line for the whole check: a line per file would cost a write per file.
    logLine("local check of " + std::to_string(manifest.size()) + " files: " +
            std::to_string(counts.toUpdate) + " to update (" + std::to_string(counts.bytesToDownload) +
            " bytes to download), " + std::to_string(counts.couldNotCheck) + " could not be checked" +
            (engine.stopRequested.load() ? ", stopped" : "") + ", " +
            std::to_string(GetTickCount64() - started) + " ms");
    return counts;
}

bool crossesReparsePoint(const WString& gameFolder, std::string_view relativePathUtf8,
                         LinkFreeFolders* proven) {
    return crossesReparsePointWith(
        gameFolder, relativePathUtf8,
        [](const WString& path) {
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD error = GetLastError();
                return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Absent
                                                                                      : PathKind::Unreadable;
            }
            return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? PathKind::Link : PathKind::Plain;
        },
        proven);
}

std::string crc32FileHex(const WString& path) {
    UniqueKernelHandle file = openForReading(path);
    if (!file) return {};
    std::vector<unsigned char> buffer(kReadBlockBytes);
    const CrcResult crc = crcOfOpenFile(file.get(), buffer, [](int32_t) {});
    if (!crc.complete) return {};
    return formatCrc32(crc.crc);
}
