// Runs the local check and the file update of one game folder against a release, in a process of
// its own, so that a test can kill it at any moment and look at what is left on disk.
// usage: update_files_runner.exe GAME_FOLDER RELEASE_BASE_URL MANIFEST_FILE RESULT_FILE
//   MANIFEST_FILE  the release's checksums.txt (already trusted: no signature is checked here)
//   RESULT_FILE    receives "FAILED BLOCKED\n" when the update has run to its end
// Exit codes: 0 done (whatever the counts), 2 bad arguments, 3 unreadable or rejected manifest.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "base/read_file_win.h"
#include "base/unique_handle.h"
#include "update/file_update_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/update_engine.h"

namespace {}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const WString gameFolder = argv[1];
    std::string releaseUrl;
    for (const wchar_t* c = argv[2]; *c; ++c) releaseUrl.push_back(static_cast<char>(*c));  // ASCII URL
    const std::optional<std::string> manifestText = readWholeFile(argv[3]);
    if (!manifestText) return 3;
    FileManifest manifest = parseManifestText(*manifestText);
    if (manifest.empty()) return 3;

    UpdateEngine engine;
    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, gameFolder);
    int32_t failed = -1;
    int32_t blocked = -1;
    updateFiles(engine, manifest, gameFolder, releaseUrl, counts.toUpdate, counts.bytesToDownload, failed,
                blocked);

    UniqueFile result(_wfopen(argv[4], L"wb"));
    if (result) std::fprintf(result.get(), "%d %d\n", static_cast<int>(failed), static_cast<int>(blocked));
    return 0;
}
