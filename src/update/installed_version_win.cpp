#include "update/installed_version_win.h"

#include <cstdio>
#include <string>

#include "base/constants.h"
#include "base/replace_file_win.h"
#include "base/unique_handle.h"
#include "config/settings.h"
#include "update/release_info.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

// Only the start of the first line matters for the number; a file that is not a version file at
// all is not read whole.
constexpr size_t kFirstLineLimit = 4096;

std::string readFirstLine(const WString& path) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
    if (!file) return {};
    std::string line;
    for (int c = std::fgetc(file.get()); c != EOF && c != '\n' && line.size() < kFirstLineLimit;
         c = std::fgetc(file.get())) {
        line += static_cast<char>(c);
    }
    return line;
}

}  // namespace

int32_t readInstalledVersion(UpdateEngine& engine, const WString& branchFolder) {
    publishOutcome(engine, kStateDetectingVersion, localized(kDetectingVersionText));
    return installedVersionFromText(readFirstLine(branchFolder + kInstalledVersionFileName));
}

void writeInstalledVersion(const WString& branchFolder, int32_t version) {
    (void)replaceFileContents(branchFolder + kInstalledVersionFileName, std::to_string(version));
}
