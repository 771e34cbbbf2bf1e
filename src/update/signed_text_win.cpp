#include "update/signed_text_win.h"

#include <mutex>

#include "base/constants.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "crypto/signature_win.h"
#include "net/http_client_win.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

std::string fetchPatchFile(UpdateEngine& engine, const std::string& url) {
    publishOutcome(engine, kStateDownloadingPatchInfo, localized(kDownloadingPatchInfoText));
    std::string body;
    if (!fetchToMemory(url, body)) {
        logLine(url + ": " + describeTransferOutcome(lastTransferOutcome()));
        return {};
    }
    if (body.empty()) logLine(url + ": HTTP 200, empty");
    return body;
}

}  // namespace

WString fetchSignedText(const std::string& baseUrl, const std::string& textPath,
                        const std::string& signaturePath) {
    std::string text;
    std::string signature;
    const char* failure = nullptr;
    if (!fetchToMemory(baseUrl + textPath, text)) {
        failure = textPath.c_str();
    } else if (!fetchToMemory(baseUrl + signaturePath, signature)) {
        failure = signaturePath.c_str();
    } else if (!verifySignature(text, signature)) {
        logLine(baseUrl + textPath + ": signature does not verify");
        return {};
    }
    if (failure) {
        logLine(baseUrl + failure + ": " + describeTransferOutcome(lastTransferOutcome()));
        return {};
    }
    return utf8ToWide(text);
}

void fetchNews(UpdateEngine& engine, const std::string& branchBaseUrl) {
    if (!engine.fetchNews || !copyNewsText(engine).empty()) return;
    WString news = fetchSignedText(branchBaseUrl, kNewsV2Path, kNewsV2SigPath);
    const char* from = kNewsV2Path;
    if (news.empty()) {
        news = fetchSignedText(branchBaseUrl, kNewsPath, kNewsSigPath);
        from = kNewsPath;
    }
    logLine(news.empty() ? std::string("news: none")
                         : "news: " + std::to_string(news.size()) + " characters from " + from);
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.newsText = news;
}

std::string fetchPatchText(UpdateEngine& engine, const std::string& releaseBaseUrl) {
    return fetchPatchFile(engine, releaseBaseUrl + kChecksumsPath);
}

std::string fetchPatchSignature(UpdateEngine& engine, const std::string& releaseBaseUrl) {
    return fetchPatchFile(engine, releaseBaseUrl + kChecksumsSigPath);
}
