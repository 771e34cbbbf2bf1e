#include "update/bundle_win.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "app/unique_handle.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "crypto/sha256_win.h"
#include "net/http_client_win.h"
#include "update/bundle_container.h"
#include "update/file_update_win.h"
#include "update/local_check_win.h"
#include "update/update_engine.h"

namespace {

constexpr TextPair kBundleLabel = {L"Small files bundle", L"Пакет мелких файлов"};
constexpr size_t kBufferSize = 65536;

// Downloads, verifies and unpacks the bundle into `unpacked`; the compressed copy is gone
// afterwards whatever happened.
bool fetchBundle(UpdateEngine& engine, const WString& gameFolder, const std::string& releaseBaseUrl,
                 const std::string& pack, const WString& unpacked) {
    const WString compressed = gameFolder + L"\\_smallpack.gz";
    const bool fetched =
        downloadToFile(releaseBaseUrl + "/files/" + pack + ".gz", compressed, &engine.currentDone);
    // Exact comparison: a pack value in upper case can never match the computed hash.
    const bool verified = fetched && sha256FileHex(compressed) == pack;
    const bool unpackedOk = verified && gunzipFile(compressed, unpacked);
    deleteFileQuietly(compressed);
    if (!unpackedOk) deleteFileQuietly(unpacked);
    return unpackedOk;
}

// Extracts one wanted record into target + ".new" and moves it over the target when its length
// and CRC-32 match. Returns false when the container turned out to be cut short.
bool extractRecord(UpdateEngine& engine, std::FILE* container, const BundleRecordHeader& header,
                   ManifestEntry& entry, const WString& gameFolder, std::vector<char>& buffer) {
    const WString target = gameFolder + L"\\" + utf8ToWide(header.name);
    const WString unpacked = target + L".new";
    (void)createParentFolders(target);
    UniqueFile out(_wfopen(unpacked.c_str(), L"wb"));
    const bool created = static_cast<bool>(out);

    const BundleCopyResult copy =
        copyBundleContent(container, header.length, out.get(), buffer.data(), buffer.size());
    bool writable = created && copy.written;
    if (created) {
        const bool flushed = std::fflush(out.get()) == 0;
        const bool closed = std::fclose(out.release()) == 0;
        writable = writable && flushed && closed;
    }
    const bool good =
        writable && copy.complete && header.length == entry.size && crc32FileHex(unpacked) == entry.crc32 &&
        MoveFileExW(unpacked.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (good) {
        entry.needsUpdate = false;
        engine.filesDone.fetch_add(1);
        engine.bytesDone.fetch_add(entry.packedSize);
    } else {
        deleteFileQuietly(unpacked);
    }
    return copy.complete;
}

}  // namespace

void applyBundle(UpdateEngine& engine, FileManifest& manifest, const WString& gameFolder,
                 const std::string& releaseBaseUrl, const std::string& pack, int32_t packSize) {
    engine.state.exchange(kStateDownloadingFiles);
    engine.currentDone.store(0);
    engine.currentTotal.store(packSize);
    setCurrentFile(engine, localized(kBundleLabel));

    const WString unpacked = gameFolder + L"\\_smallpack.bin";
    if (!fetchBundle(engine, gameFolder, releaseBaseUrl, pack, unpacked)) return;

    std::map<std::string, ManifestEntry*> byPath;
    for (ManifestEntry& entry : manifest) byPath.emplace(entry.path, &entry);
    std::set<std::string> seen;
    std::vector<char> buffer(kBufferSize);

    UniqueFile container(_wfopen(unpacked.c_str(), L"rb"));
    bool intact = static_cast<bool>(container);
    while (intact) {
        BundleRecordHeader header;
        const BundleHeaderRead read = readBundleHeader(container.get(), header);
        // A normal end, or a header that cannot be trusted: either way nothing more is read.
        if (read != BundleHeaderRead::Record) break;
        const auto found = byPath.find(header.name);
        // A repeated name is never wanted, even when its first record failed.
        const bool firstOfName = seen.insert(header.name).second;
        if (found == byPath.end() || !found->second->needsUpdate || !firstOfName) {
            intact = skipBundleContent(container.get(), header.length);
            continue;
        }
        // A link on the way abandons the rest of the bundle; updateFiles reports the link.
        if (crossesReparsePoint(gameFolder, header.name)) break;
        intact = extractRecord(engine, container.get(), header, *found->second, gameFolder, buffer);
    }
    container.reset();
    deleteFileQuietly(unpacked);
}
