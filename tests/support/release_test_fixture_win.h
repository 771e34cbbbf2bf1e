#pragma once

// A release published by the fixture builder on a test server, a game folder next to it, and the
// launcher's own readers of the descriptor and manifest: the ground on which the download, the
// bundle and the crash tests stand.

#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "base/handles_win.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "crypto/sha256_win.h"
#include "net/http_client_win.h"
#include "support/http_test_fixture_win.h"
#include "support/language_scope.h"
#include "support/release_fixture_win.h"
#include "support/test_env_win.h"
#include "support/test_server_win.h"
#include "update/file_update_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/release_info.h"
#include "update/update_engine.h"

using ReleaseFiles = std::vector<std::pair<std::string, std::string>>;  // manifest path, content

struct UpdateCounts {
    int32_t failed = -1;
    int32_t blocked = -1;
};

// Files below `folder` (not through links) whose names show an unfinished or left-over transfer:
// ".gz", ".new", a copy's ".object" note, or the bundle's "_smallpack." copies. Paths relative to
// `folder`, "\" separated.
inline std::vector<std::wstring> transferLeftovers(const WString& folder, const std::wstring& prefix = L"") {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!search) return found;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const auto inner = transferLeftovers(folder + L"\\" + name, prefix + name + L"\\");
            found.insert(found.end(), inner.begin(), inner.end());
            continue;
        }
        const auto endsWith = [&name](const std::wstring& tail) {
            return name.size() >= tail.size() &&
                   name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
        };
        if (endsWith(L".gz") || endsWith(L".new") || endsWith(L".object") ||
            name.rfind(L"_smallpack.", 0) == 0) {
            found.push_back(prefix + name);
        }
    } while (FindNextFileW(search.get(), &data));
    return found;
}

// File identity (volume and index): a rename of another file over the path gives a new one.
inline std::pair<DWORD, uint64_t> fileIdentity(const WString& path) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return {0, 0};
    return {info.dwVolumeSerialNumber,
            (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The HTTP fixture's server and scratch folder, with a release and a game folder.
class ReleaseTest : public HttpTest {
protected:
    ~ReleaseTest() override { setReplaceTargetForTests(nullptr); }
    void SetUp() override {
        HttpTest::SetUp();
        if (HasFatalFailure()) return;
        game = dir / L"game";
        ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    }

    // Publishes the files as release 144 with the given further builder words, then reads the
    // descriptor and the manifest back with the launcher's parsers.
    void publish(const ReleaseFiles& files, const std::vector<std::string>& extra = {}) {
        const std::string source = dir.unixPath() + "/source";
        ASSERT_EQ(runUnixShell("rm -rf " + shellQuote(source) + " && mkdir -p " + shellQuote(source)), 0);
        for (const auto& [path, content] : files) {
            const WString file = winePathFromUnix(source) + L"\\" + utf8ToWide(path);
            ASSERT_TRUE(createParentFolders(file));
            ASSERT_TRUE(writeFileBytes(file, content));
        }
        std::vector<std::string> arguments = {
            "--clean", "--out", server.rootUnix() + "/patch/lurra", "--version", "144", "--source", source};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string log;
        ASSERT_TRUE(runReleaseBuilder(arguments, &log)) << log;
        const auto descriptor = readFileBytes(server.root() + L"\\patch\\lurra\\latest.txt");
        ASSERT_TRUE(descriptor);
        UpdateEngine reader;
        ASSERT_TRUE(applyReleaseDescriptor(reader, *descriptor, release));
        const auto manifestText = readFileBytes(server.root() + L"\\patch\\lurra\\144\\checksums.txt");
        ASSERT_TRUE(manifestText);
        manifest = parseManifestText(*manifestText);
        ASSERT_EQ(manifest.size(), files.size());
    }

    [[nodiscard]] std::string releaseUrl() const { return server.httpsUrl() + "/patch/lurra/144"; }
    [[nodiscard]] static std::string objectTarget(const std::string& name) {
        return "/patch/lurra/144/files/" + name + ".gz";
    }

    // Serves `bytes` as the object of `path` under their own SHA-256, and lists them so.
    void republishObject(const std::string& path, const std::string& bytes) {
        const WString scratch = dir / L"object.tmp";
        ASSERT_TRUE(writeFileBytes(scratch, bytes));
        const std::string hash = sha256FileHex(scratch);
        ASSERT_EQ(hash.size(), 64u);
        ASSERT_TRUE(server.publish("patch/lurra/144/files/" + hash + ".gz", bytes));
        ManifestEntry& target = entry(path);
        target.sha256 = hash;
        target.packedSize = static_cast<int32_t>(bytes.size());
    }

    [[nodiscard]] std::string publishedObject(const std::string& path) {
        return readFileBytes(server.root() + L"\\patch\\lurra\\144\\files\\" +
                             utf8ToWide(entry(path).sha256) + L".gz")
            .value_or("(missing)");
    }

    ManifestEntry& entry(const std::string& path) {
        const auto found = std::find_if(manifest.begin(), manifest.end(),
                                        [&path](const ManifestEntry& e) { return e.path == path; });
        if (found == manifest.end()) {
            ADD_FAILURE() << "no manifest entry " << path;
            static ManifestEntry none;
            return none;
        }
        return *found;
    }

    [[nodiscard]] WString gamePath(const std::string& path) const { return game + L"\\" + utf8ToWide(path); }
    void writeGameFile(const std::string& path, const std::string& content) {
        ASSERT_TRUE(createParentFolders(gamePath(path)));
        ASSERT_TRUE(writeFileBytes(gamePath(path), content));
    }
    [[nodiscard]] std::string gameFile(const std::string& path) const {
        return readFileBytes(gamePath(path)).value_or("(missing)");
    }

    LocalCheckCounts checkFiles() { return checkLocalFiles(engine, manifest, game); }

    [[nodiscard]] std::pair<int32_t, int32_t> toDo() const {
        int32_t files = 0;
        int32_t bytes = 0;
        for (const ManifestEntry& e : manifest) {
            if (!e.needsUpdate) continue;
            ++files;
            bytes += e.packedSize;
        }
        return {files, bytes};
    }

    UpdateCounts updateAll() {
        UpdateCounts counts;
        const auto [files, bytes] = toDo();
        updateFiles(engine, manifest, game, releaseUrl(), files, bytes, counts.failed, counts.blocked);
        return counts;
    }

    LanguageScope english{Language::English};  // reasons are checked in English unless a test switches
    WString game;
    UpdateEngine engine;
    ReleaseInfo release;
    FileManifest manifest;
};
