#include "update/signed_text_win.h"

#include <mutex>

#include "base/constants.h"
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
    if (!fetchToMemory(url, body)) return {};
    return body;
}

}  // namespace

WString fetchSignedText(const std::string& baseUrl, const std::string& textPath,
                        const std::string& signaturePath) {
    std::string text;
    if (!fetchToMemory(baseUrl + textPath, text)) return {};
    std::string signature;
    if (!fetchToMemory(baseUrl + signaturePath, signature)) return {};
    if (!verifySignature(text, signature)) return {};
    return utf8ToWide(text);
}

void fetchNews(UpdateEngine& engine, const std::string& branchBaseUrl) {
    if (!engine.fetchNews || !copyNewsText(engine).empty()) return;
    WString news = fetchSignedText(branchBaseUrl, kNewsV2Path, kNewsV2SigPath);
    if (news.empty()) news = fetchSignedText(branchBaseUrl, kNewsPath, kNewsSigPath);
    std::lock_guard<std::mutex> guard(engine.lock);
    engine.newsText = news;
}

std::string fetchPatchText(UpdateEngine& engine, const std::string& releaseBaseUrl) {
    return fetchPatchFile(engine, releaseBaseUrl + kChecksumsPath);
}

std::string fetchPatchSignature(UpdateEngine& engine, const std::string& releaseBaseUrl) {
    return fetchPatchFile(engine, releaseBaseUrl + kChecksumsSigPath);
}
