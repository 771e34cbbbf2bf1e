#include "update/release_fetch_win.h"

#include <cstdint>

#include "base/constants.h"
#include "config/settings.h"
#include "crypto/signature_win.h"
#include "net/http_client_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr uint32_t kHttpNotFound = 404;

}  // namespace

bool fetchReleaseInfo(UpdateEngine& engine, const std::string& branchBaseUrl, ReleaseInfo& info) {
    publishOutcome(engine, kStateCheckingForUpdates, localized(kCheckingForUpdatesText));
    info = ReleaseInfo{};

    std::string text;
    uint32_t status = 0;
    if (!fetchToMemory(branchBaseUrl + kLatestPath, text, &status)) {
        // Only a server that answers, and answers that the branch has nothing, marks it as not
        // published; a connection failure is just a failure.
        if (status == kHttpNotFound) engine.notPublished = true;
        return false;
    }
    std::string signature;
    if (!fetchToMemory(branchBaseUrl + kLatestSigPath, signature)) return false;
    if (!verifySignature(text, signature)) return false;
    return applyReleaseDescriptor(engine, text, info);
}
