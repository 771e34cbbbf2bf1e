#include "update/update_run_win.h"

#include <windows.h>

#include <algorithm>

#include "base/constants.h"
#include "base/paths_win.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "crypto/sha256_win.h"
#include "crypto/signature_win.h"
#include "net/http_client_win.h"
#include "update/bundle_win.h"
#include "update/file_update_win.h"
#include "update/installed_version_win.h"
#include "update/local_check_win.h"
#include "update/manifest.h"
#include "update/release_fetch_win.h"
#include "update/release_info.h"
#include "update/result_lists.h"
#include "update/result_lists_win.h"
#include "update/self_update_win.h"
#include "update/server_layout.h"
#include "update/signed_text_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

// Below this many files one request per file costs less than fetching the whole bundle.
constexpr int32_t kBundleMinimumFiles = 50;
// Only a full SHA-256 hash text names a bundle; anything else means the release has none.
constexpr size_t kPackNameLength = 64;

void publish(UpdateEngine& engine, int32_t state, const TextPair& text) {
    engine.outcomeText.exchange(&text);
    publishOutcome(engine, state, localized(text));
    // In English whatever the player reads: the log is for the mod team.
    logLine("outcome: state " + std::to_string(state) + ", \"" + wideToUtf8(text.english) + "\"");
}

const char* decisionText(VersionDecision decision) {
    switch (decision) {
        case VersionDecision::NoUsableRelease:
            return "no usable release";
        case VersionDecision::DowngradeRefused:
            return "downgrade refused";
        case VersionDecision::AlreadyInstalled:
            return "already installed";
        case VersionDecision::CheckFiles:
            return "check the files";
    }
    return "?";
}

// Replaces the launcher when the descriptor announces a newer one. Returns only when that did
// not happen; the attempt then goes on as if no new launcher had been announced.
void updateLauncherIfDue(UpdateEngine& engine, const ReleaseInfo& info, const std::string& branchUrl,
                         const UpdateRunSetup& setup) {
    // Reading the running executable for its hash is only worth it when a newer one is announced.
    if (!setup.mayUpdateLauncher || info.launcherVersion <= kLauncherVersionNumber) return;
    if (!isSelfUpdateDue(info, sha256FileHex(modulePath()))) return;
    setLauncherUpdateText(engine, localized(kLauncherUpdatePrefix) + formatVersion(info.launcherVersion));
    const WString folder = setup.launcherFolder.empty() ? launcherFolder() : setup.launcherFolder;
    (void)selfUpdate(engine, folder, branchUrl, info.launcherChecksum,
                     static_cast<uint64_t>(std::max<int32_t>(info.launcherSize, 0)));
}

// Fetches the release's manifest and its signature and accepts the manifest only when it is
// signed and parses as a whole. Each failure publishes kStateBadPatchInfo with its own message.
bool loadManifest(UpdateEngine& engine, const std::string& releaseUrl, FileManifest& manifest) {
    const std::string text = fetchPatchText(engine, releaseUrl);
    const std::string signature = fetchPatchSignature(engine, releaseUrl);
    const TextPair* failure = nullptr;
    if (text.empty()) {
        failure = &kPatchInfoMissingText;
    } else if (signature.empty()) {
        failure = &kPatchSignatureMissingText;
    } else if (!verifySignature(text, signature)) {
        failure = &kPatchSignatureInvalidText;
    } else {
        manifest = parseManifest(text, engine);
        if (manifest.empty()) failure = &kPatchInfoCorruptText;
    }
    if (failure) {
        publish(engine, kStateBadPatchInfo, *failure);
    } else {
        logLine("manifest " + releaseUrl + kChecksumsPath + ": signature valid, " +
                std::to_string(manifest.size()) + " files");
    }
    return failure == nullptr;
}

// The successful end of an attempt: the outcome, then the records of what is installed.
bool completeAttempt(UpdateEngine& engine, const FileManifest& manifest, int32_t gameVersion,
                     const TextPair& message) {
    publish(engine, kStateFinished, message);
    // A bundle download that broke off was kept to go on from; the folder needs it no more.
    discardCopy(bundleCopyPath(engine.folder));
    writeInstalledVersion(engine.folder, gameVersion);
    writeUninstallList(engine.folder, manifest);
    return true;
}

// The entries the bundle left for the single downloads, and their packed sizes.
LocalCheckCounts countStillNeeded(const FileManifest& manifest) {
    LocalCheckCounts counts;
    for (const ManifestEntry& entry : manifest) {
        if (!entry.needsUpdate) continue;
        ++counts.toUpdate;
        counts.bytesToDownload = sumSaturating(counts.bytesToDownload, entry.packedSize);
    }
    return counts;
}

// The bundle (when enough files are due and the release has one), the single downloads, and the
// outcome they lead to.
bool updateAndReport(UpdateEngine& engine, FileManifest& manifest, const std::string& releaseUrl,
                     int32_t gameVersion, LocalCheckCounts counts, bool lastServer) {
    if (counts.toUpdate >= kBundleMinimumFiles && engine.pack.size() == kPackNameLength) {
        applyBundle(engine, manifest, engine.folder, releaseUrl, engine.pack, engine.packSize);
        counts = countStillNeeded(manifest);
    } else {
        logLine(counts.toUpdate < kBundleMinimumFiles
                    ? "bundle: not used, " + std::to_string(counts.toUpdate) + " files to update"
                    : std::string("bundle: not used, the release has none"));
    }
    int32_t failed = 0;
    int32_t blocked = 0;
    updateFiles(engine, manifest, engine.folder, releaseUrl, counts.toUpdate, counts.bytesToDownload, failed,
                blocked);

    // Files held by another program or refused by the file system fail on every server alike.
    if (blocked > 0) {
        (void)presentFailureList(engine, manifest, localized(kUpdateFailuresHeader));
        publish(engine, kStateFilesInUse, kFilesInUseText);
        return false;
    }
    // The next server may deliver what this one could not; only the last one's failures are listed.
    if (failed > 0) {
        if (lastServer) (void)presentFailureList(engine, manifest, localized(kUpdateFailuresHeader));
        publish(engine, kStateDownloadFailed, kDownloadFailedText);
        return false;
    }
    // Stopped before every file was done: nothing is claimed and nothing is recorded.
    if (engine.stopRequested.load()) return false;
    return completeAttempt(engine, manifest, gameVersion, kAllUpdatedText);
}

}  // namespace

UpdateRunSetup launcherRunSetup() {
    UpdateRunSetup setup;
    setup.serverBaseUrls.assign(kUpdateServerUrls, kUpdateServerUrls + kUpdateServerCount);
    setup.launcherFolder = launcherFolder();
    return setup;
}

bool runServerAttempt(UpdateEngine& engine, const std::string& serverBaseUrl, bool lastServer,
                      const UpdateRunSetup& setup) {
    const std::string branchUrl = branchBaseUrl(serverBaseUrl, engine.serverPath);
    logLine("server " + serverBaseUrl + ": attempt for " + engine.serverPath);
    fetchNews(engine, branchUrl);
    engine.notPublished = false;
    const int32_t installedVersion = readInstalledVersion(engine, engine.folder);
    logLine("installed version " + std::to_string(installedVersion));

    ReleaseInfo info;
    if (!fetchReleaseInfo(engine, branchUrl, info)) {
        publish(engine, kStateNoDescriptor, kNoConnectionText);
        return false;
    }
    updateLauncherIfDue(engine, info, branchUrl, setup);

    const VersionDecision decision = decideVersion(info.gameVersion, installedVersion, engine.verifyAll);
    logLine(std::string("decision: ") + decisionText(decision) + " (server " +
            std::to_string(info.gameVersion) + ", installed " + std::to_string(installedVersion) +
            ", full check " + (engine.verifyAll ? "yes" : "no") + ")");
    switch (decision) {
        case VersionDecision::NoUsableRelease:
            publish(engine, kStateNoDescriptor, kNoConnectionText);
            return false;
        case VersionDecision::DowngradeRefused:
            publish(engine, kStateFinished, kDowngradeSkippedText);
            return true;
        case VersionDecision::AlreadyInstalled:
            publish(engine, kStateFinished, kAlreadyInstalledText);
            return true;
        case VersionDecision::CheckFiles:
            break;
    }

    const std::string releaseUrl = releaseBaseUrl(branchUrl, info.gameVersion);
    FileManifest manifest;
    if (!loadManifest(engine, releaseUrl, manifest)) return false;

    const LocalCheckCounts counts = checkLocalFiles(engine, manifest, engine.folder);
    // A check cut short judged only some files: it must neither claim that everything is current
    // nor record the release as installed.
    if (engine.stopRequested.load()) return false;
    if (counts.couldNotCheck > 0) {
        const bool goOn = presentFailureList(engine, manifest, localized(kCheckFailuresHeader));
        logLine(std::string("unchecked files: the player ") +
                (goOn ? "continued anyway" : "did not continue"));
        if (!goOn) {
            publish(engine, kStateUncheckedFiles, kUncheckedFilesText);
            return false;
        }
    }
    if (counts.toUpdate == 0) {
        if (counts.couldNotCheck > 0) {
            publish(engine, kStateUncheckedFiles, kNothingToUpdateUncheckedText);
            return false;
        }
        return completeAttempt(engine, manifest, info.gameVersion, kAllCheckedText);
    }
    return updateAndReport(engine, manifest, releaseUrl, info.gameVersion, counts, lastServer);
}

int32_t runUpdate(UpdateEngine& engine, const UpdateRunSetup& setup) {
    // An answer belongs to the run that asked; a question skipped after a cancel reads this.
    engine.dialogAnswer.store(false);
    engine.outcomeText.exchange(nullptr);
    logLine("update run: folder \"" + wideToUtf8(engine.folder) + "\", branch " + engine.serverPath);
    const ULONGLONG started = GetTickCount64();
    int attempts = 0;
    const size_t count = setup.serverBaseUrls.size();
    size_t index = 0;
    while (count > 0 && !engine.stopRequested.load()) {
        const bool lastServer = index + 1 == count;
        ++attempts;
        if (runServerAttempt(engine, setup.serverBaseUrls[index], lastServer, setup)) break;
        const int32_t state = engine.state.load();
        if (state == kStateFilesInUse) break;
        // Unchecked files that the user did not let pass: the servers take turns until the answer
        // changes or the run is cancelled. Once the user has let them pass and there was still
        // nothing to update, another server cannot change what the local check found, and asking
        // the same question again and again would never end.
        if (state == kStateUncheckedFiles) {
            if (engine.dialogAnswer.load()) break;
            index = (index + 1) % count;
            continue;
        }
        if (lastServer) break;
        ++index;
    }
    const int32_t state = engine.state.load();
    logLine("update run ended: state " + std::to_string(state) +
            (engine.stopRequested.load() ? " (stopped)" : "") + " after " + std::to_string(attempts) +
            " server attempts, " + std::to_string(GetTickCount64() - started) + " ms");
    return state;
}
