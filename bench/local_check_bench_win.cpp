// Local check throughput against a reference in the same process: the same files read in 64 KiB
// blocks and CRC'd with zlib, the simplest correct way to do the same work. Prints MB/s of both and
// their ratio (goal: the local check at 0.95 of the reference or better), and the local check with
// the run log written (into the data folder) against the same check without it (goal: within 2 %).
// usage: local_check_bench.exe DATA_FOLDER [FILES] [TOTAL_MIB]
#include <windows.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/handles_win.h"
#include "base/run_log.h"
#include "config/text_convert.h"
#include "update/local_check_win.h"
#include "update/update_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

// File sizes from 1 KiB to 50 MiB, log-distributed, scaled so they add up to about `totalBytes`.
std::vector<int64_t> fileSizes(int files, int64_t totalBytes) {
    std::vector<int64_t> sizes;
    uint64_t state = 0x9E3779B97F4A7C15ull;
    double sum = 0;
    std::vector<double> raw;
    for (int i = 0; i < files; ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        const double unit = static_cast<double>(state % 1000000) / 1000000.0;
        raw.push_back(1024.0 * std::pow(51200.0, unit * unit * unit));  // many small, few large
        sum += raw.back();
    }
    for (double r : raw) {
        sizes.push_back(std::clamp<int64_t>(static_cast<int64_t>(r * static_cast<double>(totalBytes) / sum),
                                            1024, 50ll << 20));
    }
    return sizes;
}

bool writeFile(const WString& path, int64_t size, uint64_t seed) {
    UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    std::vector<uint64_t> block(8192);
    for (int64_t done = 0; done < size;) {
        for (uint64_t& word : block) word = (seed = seed * 6364136223846793005ull + 1442695040888963407ull);
        const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(size - done, 65536));
        DWORD written = 0;
        if (!WriteFile(file.get(), block.data(), chunk, &written, nullptr) || written != chunk) return false;
        done += chunk;
    }
    return true;
}

// The reference: CreateFileW, 64 KiB ReadFile blocks, zlib crc32.
std::string referenceCrc(const WString& path, std::vector<unsigned char>& buffer, int64_t& bytes) {
    UniqueKernelHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    uLong crc = crc32(0L, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        crc = crc32(crc, buffer.data(), got);
        bytes += got;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(crc));
    return text;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: local_check_bench.exe DATA_FOLDER [FILES] [TOTAL_MIB]\n");
        return 2;
    }
    const WString folder = argv[1];
    const int files = argc > 2 ? _wtoi(argv[2]) : 2000;
    const int64_t totalMib = argc > 3 ? _wtoi(argv[3]) : 1024;
    const std::vector<int64_t> sizes = fileSizes(files, totalMib << 20);

    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Imgs").c_str(), nullptr);
    FileManifest manifest;
    for (int i = 0; i < files; ++i) {
        ManifestEntry entry;
        entry.path = "Imgs/f" + std::to_string(i) + ".bin";
        entry.size = static_cast<int32_t>(sizes[static_cast<size_t>(i)]);
        entry.packedSize = 1;
        const WString path = folder + L"\\" + utf8ToWide(entry.path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool present =
            GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
            (static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) == entry.size;
        if (!present && !writeFile(path, entry.size, static_cast<uint64_t>(i) + 1)) {
            std::fprintf(stderr, "cannot write %ls\n", path.c_str());
            return 1;
        }
        manifest.push_back(entry);
    }

    std::vector<unsigned char> buffer(65536);
    int64_t referenceBytes = 0;
    // Warm the cache and take the expected CRCs from the reference.
    for (ManifestEntry& entry : manifest) {
        entry.crc32 = referenceCrc(folder + L"\\" + utf8ToWide(entry.path), buffer, referenceBytes);
    }

    // The reference, the check, the check with the run log; the sides take turns in every round.
    double best[3] = {1e9, 1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        referenceBytes = 0;
        const auto start = Clock::now();
        for (const ManifestEntry& entry : manifest) {
            if (referenceCrc(folder + L"\\" + utf8ToWide(entry.path), buffer, referenceBytes) !=
                entry.crc32) {
                return 1;
            }
        }
        best[0] = std::min(best[0], seconds(Clock::now() - start));

        for (int logged = 0; logged < 2; ++logged) {
            if (logged && !openRunLog(folder)) {
                std::fprintf(stderr, "cannot open the run log in the data folder\n");
                return 1;
            }
            UpdateEngine engine;
            const auto checkStart = Clock::now();
            const LocalCheckCounts counts = checkLocalFiles(engine, manifest, folder);
            best[1 + logged] = std::min(best[1 + logged], seconds(Clock::now() - checkStart));
            closeRunLog();
            if (counts.toUpdate != 0 || counts.couldNotCheck != 0 || engine.filesDone.load() != files) {
                std::fprintf(stderr, "the local check did not find every file current\n");
                return 1;
            }
        }
    }
    const double megabytes = static_cast<double>(referenceBytes) / 1e6;
    std::printf("local check: %d files, %.0f MB, best of 3 rounds (warm cache)\n", files, megabytes);
    std::printf("  reference (ReadFile 64 KiB + zlib crc32): %8.1f MB/s\n", megabytes / best[0]);
    std::printf("  checkLocalFiles:                          %8.1f MB/s\n", megabytes / best[1]);
    std::printf("  ratio checkLocalFiles / reference:        %8.2f   (goal >= 0.95)\n", best[0] / best[1]);
    std::printf("  checkLocalFiles with the run log:         %8.1f MB/s\n", megabytes / best[2]);
    std::printf("  time with the run log / without:          %8.3f   (goal <= 1.02)\n", best[2] / best[1]);
    return 0;
}
