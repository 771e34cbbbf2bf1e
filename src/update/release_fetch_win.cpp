#include "update/release_fetch_win.h"

#include <windows.h>

#include <cstdint>

#include "base/constants.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "crypto/signature_win.h"
#include "net/http_client_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr uint32_t kHttpNotFound = 404;

}  // namespace

namespace {

// latest.txt and latest.sig; false when either cannot be fetched (logged; a 404 for latest.txt
// marks the branch as not published).
bool fetchDescriptorPair(UpdateEngine& engine, const std::string& branchBaseUrl, std::string& text,
                         std::string& signature) {
    const std::string url = branchBaseUrl + kLatestPath;
    uint32_t status = 0;
    if (!fetchToMemory(url, text, &status)) {
        logLine("descriptor " + url + ": " + describeTransferOutcome(lastTransferOutcome()));
        // Only a server that answers, and answers that the branch has nothing, marks it as not
        // published; a connection failure is just a failure.
        if (status == kHttpNotFound) engine.notPublished = true;
        return false;
    }
    if (!fetchToMemory(branchBaseUrl + kLatestSigPath, signature)) {
        logLine("descriptor signature " + branchBaseUrl + kLatestSigPath + ": " +
                describeTransferOutcome(lastTransferOutcome()));
        return false;
    }
    return true;
}

}  // namespace

bool fetchReleaseInfo(UpdateEngine& engine, const std::string& branchBaseUrl, ReleaseInfo& info) {
    publishOutcome(engine, kStateCheckingForUpdates, localized(kCheckingForUpdatesText));
    info = ReleaseInfo{};

    const std::string url = branchBaseUrl + kLatestPath;
    std::string text;
    std::string signature;
    if (!fetchDescriptorPair(engine, branchBaseUrl, text, signature)) return false;
    if (!verifySignature(text, signature)) {
        // The two are separate files: during a publish, or while a CDN keeps one of them longer than
        // the other, a launcher may read one new and one old. The pair once more after a short pause,
        // before the other server (which may sit behind the same CDN) is tried.
        const uint32_t pauseMs = httpTimings().retryPauseMs[0];
        logLine("descriptor " + url +
                ": HTTP 200, signature does not verify; fetching latest.txt and latest.sig " +
                "once more in " + std::to_string(pauseMs) + " ms (a publish may be under way)");
        Sleep(pauseMs);
        if (!fetchDescriptorPair(engine, branchBaseUrl, text, signature)) return false;
        if (!verifySignature(text, signature)) {
            logLine("descriptor " + url + ": HTTP 200, signature does not verify");
            return false;
        }
    }
    if (!applyReleaseDescriptor(engine, text, info)) {
        logLine("descriptor " + url + ": HTTP 200, signature valid, not readable as INI");
        return false;
    }
    // Every value but the signature; hashes and sizes are public anyway.
    logLine("descriptor " + url + ": HTTP 200, signature valid, game_version " +
            std::to_string(info.gameVersion) + ", launcher_version " + std::to_string(info.launcherVersion) +
            ", launcher_checksum " + info.launcherChecksum + ", launcher_size " +
            std::to_string(info.launcherSize) + ", pack " + info.pack + ", pack_size " +
            std::to_string(info.packSize) + ", display_version \"" + info.displayVersion + "\"");
    return true;
}
