// Peak memory of the file update and of the small-files bundle, for bench/update_memory.sh: runs one
// of them on an empty game folder against a published release and prints the process's peak working
// set before and after. Memory must not grow with the size of the files or of the bundle.
// usage: update_memory.exe files GAME_FOLDER RELEASE_BASE_URL MANIFEST_FILE
//        update_memory.exe bundle GAME_FOLDER RELEASE_BASE_URL MANIFEST_FILE PACK PACK_SIZE
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/read_file_win.h"
#include "base/unique_handle.h"
#include "config/text_convert.h"
#include "update/bundle_win.h"
#include "update/file_update_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/update_engine.h"

namespace {

unsigned long long peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (!((mode == L"files" && argc == 5) || (mode == L"bundle" && argc == 7))) {
        std::fprintf(stderr, "usage: update_memory.exe files|bundle GAME URL MANIFEST [PACK PACK_SIZE]\n");
        return 2;
    }
    const WString game = argv[2];
    const std::string url = wideToUtf8(argv[3]);
    const std::optional<std::string> manifestText = readWholeFile(argv[4]);
    if (!manifestText) return 3;
    FileManifest manifest = parseManifestText(*manifestText);
    if (manifest.empty()) return 3;

    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, game);
    const unsigned long long before = peakWorkingSet();
    const ULONGLONG start = GetTickCount64();
    int32_t failed = 0;
    int32_t blocked = 0;
    if (mode == L"files") {
        updateFiles(engine, manifest, game, url, counts.toUpdate, counts.bytesToDownload, failed, blocked);
    } else {
        applyBundle(engine, manifest, game, url, wideToUtf8(argv[5]), std::atoi(wideToUtf8(argv[6]).c_str()));
        for (const ManifestEntry& entry : manifest) failed += entry.needsUpdate ? 1 : 0;
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    long long contentBytes = 0;
    for (const ManifestEntry& entry : manifest) contentBytes += entry.size;
    std::printf(
        "mode=%ls files=%d content_bytes=%lld not_done=%d blocked=%d elapsed_ms=%llu "
        "peak_before=%llu peak_after=%llu\n",
        mode.c_str(), static_cast<int>(manifest.size()), contentBytes, static_cast<int>(failed),
        static_cast<int>(blocked), static_cast<unsigned long long>(elapsed), before, peakWorkingSet());
    return failed == 0 ? 0 : 1;
}
