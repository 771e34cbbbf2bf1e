// The updating process killed at chosen moments of its work: every game file is afterwards either
// its old or its new content, never a mix, and the next run completes the update.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

#include "support/child_process_win.h"
#include "support/release_test_fixture_win.h"

namespace {

constexpr uint32_t kKillPointSeed = 20240611;
constexpr int kKillPoints = 9;
constexpr DWORD kRunLimitMs = 60000;
constexpr UINT kKilledExitCode = 77;

std::string lines(size_t size, const std::string& word) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += word + " " + std::to_string(i * 7919 % 100003) + "\n";
    text.resize(size);
    return text;
}

// Where the kill lands, as seen from outside through the file system only (opening a game file
// would itself block the rename under test).
enum class KillPhase { Downloading, Downloaded, NextFileRequested };

const char* phaseName(KillPhase phase) {
    switch (phase) {
        case KillPhase::Downloading:
            return "downloading";
        case KillPhase::Downloaded:
            return "downloaded, then a pause";
        case KillPhase::NextFileRequested:
            return "next file requested";
    }
    return "?";
}

std::optional<uint64_t> fileSize(const WString& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class UpdateCrash : public ReleaseTest {
protected:
    void SetUp() override {
        ReleaseTest::SetUp();
        if (HasFatalFailure()) return;
        files = {{"Imgs/big_text.dds", lines(8000000, "big")},
                 {"Imgs/noise.dds", patternBytes(400000, 11)},
                 {"Scripts/small.lua", lines(60000, "small")},
                 {"ScenData/new/folder/fresh.dat", lines(3000000, "fresh")},
                 {"Templates/mid.tpl", lines(2000000, "mid")}};
        // Manifest order, as the builder lists a folder: the next file is the next entry.
        std::sort(files.begin(), files.end());
        publish(files);
    }

    // Old contents of every file but the new one, and no copies left from an earlier round.
    void prepareOldFolder() {
        ASSERT_EQ(runUnixShell("rm -rf " + shellQuote(dir.unixPath() + "/game") + " && mkdir " +
                               shellQuote(dir.unixPath() + "/game")),
                  0);
        for (const auto& [path, content] : files) {
            if (path.rfind("ScenData/", 0) != 0)
                writeGameFile(path, lines(content.size() / 2 + 17, "old " + path));
        }
    }

    [[nodiscard]] std::string oldContent(const std::string& path) const {
        for (const auto& [p, content] : files) {
            if (p == path)
                return path.rfind("ScenData/", 0) == 0 ? "(missing)"
                                                       : lines(content.size() / 2 + 17, "old " + path);
        }
        return "(unknown)";
    }

    ChildProcess startRunner() {
        const WString helper =
            winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/update_files_runner.exe");
        DeleteFileW(resultFile().c_str());
        ChildProcess runner = startChild(
            helper, L"\"" + helper + L"\" \"" + game + L"\" " + utf8ToWide(releaseUrl()) + L" \"" +
                        server.root() + L"\\patch\\lurra\\144\\checksums.txt\" \"" + resultFile() + L"\"");
        if (!runner) ADD_FAILURE() << "cannot start the runner: " << GetLastError();
        return runner;
    }

    [[nodiscard]] WString resultFile() const { return dir / L"runner_result.txt"; }

    // Polls until the kill point is reached, waits `pauseMs` and kills, unless the runner ends by
    // itself first. True when the kill landed while the runner was still at work.
    bool killAt(HANDLE process, size_t fileIndex, KillPhase phase, DWORD pauseMs) {
        const ManifestEntry& item = entry(files[fileIndex].first);
        const WString compressed = gamePath(item.path) + L".gz";
        const uint64_t packed = static_cast<uint64_t>(item.packedSize);
        const std::string next = fileIndex + 1 < files.size()
                                     ? objectTarget(entry(files[fileIndex + 1].first).sha256)
                                     : std::string();
        bool ended = false;
        const auto reached = [&] {
            ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            const uint64_t arrived = fileSize(compressed).value_or(0);
            switch (phase) {
                case KillPhase::Downloading:
                    return arrived >= packed / 2;
                // Hashing, unpacking, checking and the rename follow the complete download.
                case KillPhase::Downloaded:
                    return arrived == packed;
                case KillPhase::NextFileRequested:
                    return next.empty() ? arrived == packed : server.requestCount(next) > 0;
            }
            return false;
        };
        // A run that never reaches the point is killed at the deadline like one that did.
        if (!waitUntil([&] { return reached() || ended; }, kRunLimitMs, 1) && !ended) {
            ADD_FAILURE() << "the runner neither reached the kill point nor ended";
        }
        if (ended || WaitForSingleObject(process, pauseMs) == WAIT_OBJECT_0) return false;
        if (!TerminateProcess(process, kKilledExitCode)) return false;
        EXPECT_EQ(WaitForSingleObject(process, kRunLimitMs), WAIT_OBJECT_0);
        DWORD code = 0;
        return GetExitCodeProcess(process, &code) && code == kKilledExitCode;
    }

    void expectOldOrNew() {
        for (const auto& [path, content] : files) {
            const std::string now = gameFile(path);
            const bool isNew = now == content;
            const bool isOld = now == oldContent(path);
            EXPECT_TRUE(isNew || isOld)
                << path << " is neither its old nor its new content (" << now.size() << " bytes)";
        }
    }

    ReleaseFiles files;
};

TEST_F(UpdateCrash, KilledAtAnyPointEachFileIsOldOrNewAndTheNextRunCompletes) {
    std::mt19937 random(kKillPointSeed);
    int killedAtWork = 0;
    for (int point = 0; point < kKillPoints; ++point) {
        const size_t fileIndex = random() % files.size();
        // Every phase in turn; the file and the pause after the phase is reached by the seeded draw.
        const auto phase = static_cast<KillPhase>(point % 3);
        const DWORD pauseMs = random() % 40;
        SCOPED_TRACE("seed " + std::to_string(kKillPointSeed) + ", point " + std::to_string(point) + ": " +
                     files[fileIndex].first + ", " + phaseName(phase) + ", " + std::to_string(pauseMs) +
                     " ms");
        prepareOldFolder();
        // Slow transfers, so that each moment of the work lasts long enough to be met.
        ASSERT_TRUE(server.setRules(
            R"([{"prefix":"/patch/lurra/144/files/","action":"drip","chunk":16384,"interval":0.005}])"));
        {
            const ChildProcess runner = startRunner();
            ASSERT_TRUE(runner);
            const bool killed = killAt(runner.process.get(), fileIndex, phase, pauseMs);
            killedAtWork += killed ? 1 : 0;
            std::printf("kill point %d: %s, %s, %u ms: %s\n", point, files[fileIndex].first.c_str(),
                        phaseName(phase), static_cast<unsigned>(pauseMs),
                        killed ? "killed at work" : "ran to its end first");
            for (const std::wstring& left : transferLeftovers(game))
                std::printf("  left: %s\n", wideToUtf8(left).c_str());
        }
        expectOldOrNew();

        ASSERT_TRUE(server.clearRules());
        const ChildProcess again = startRunner();
        ASSERT_TRUE(waitForChild(again, kRunLimitMs).has_value());
        EXPECT_EQ(readFileBytes(resultFile()).value_or("(no result)"), "0 0\n");
        for (const auto& [path, content] : files) EXPECT_TRUE(gameFile(path) == content) << path;
        // Only a compressed copy may remain: that of a file replaced just before the kill, whose
        // copy the killed run had no time to delete and the next run, finding the file current,
        // does not touch.
        for (const std::wstring& left : transferLeftovers(game)) {
            EXPECT_EQ(left.substr(left.size() - 3), L".gz") << wideToUtf8(left);
        }
    }
    // Downloads are slow enough that most kills land in the middle of the work.
    EXPECT_GE(killedAtWork, kKillPoints / 2);
}

}  // namespace
