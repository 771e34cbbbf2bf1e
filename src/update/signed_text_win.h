#pragma once

#include <string>

#include "base/wstring.h"

struct UpdateEngine;

// The small signed texts of a branch. Every transfer is one attempt; the callers decide what a
// failure means. All of them run on the update worker thread.

// base + textPath, verified against base + signaturePath and converted from UTF-8. Empty when
// either transfer fails or the signature does not verify; sets no state and shows nothing.
[[nodiscard]] WString fetchSignedText(const std::string& baseUrl, const std::string& textPath,
                                      const std::string& signaturePath);

// Fills the engine's news text from news_v2.txt, or from the older news.txt when the first pair
// yields nothing. Does nothing unless the engine's fetchNews flag is set and its news text is
// still empty, so a launcher session fetches the news at most until it has them.
void fetchNews(UpdateEngine& engine, const std::string& branchBaseUrl);

// <release base>/checksums.txt and checksums.sig as bytes, unverified; empty on any failure (an
// empty body is empty too). Each publishes kStateDownloadingPatchInfo and its status text.
[[nodiscard]] std::string fetchPatchText(UpdateEngine& engine, const std::string& releaseBaseUrl);
[[nodiscard]] std::string fetchPatchSignature(UpdateEngine& engine, const std::string& releaseBaseUrl);
