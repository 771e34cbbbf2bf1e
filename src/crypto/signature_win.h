#pragma once

#include <string>

// RSASSA-PKCS1-v1_5 with SHA-256 over the exact bytes of a server text. True when the signature
// verifies under the first trusted key (the embedded one) or, failing that, the second.
[[nodiscard]] bool verifySignature(const std::string& text, const std::string& signature);

// The check under one PEM "PUBLIC KEY" text. An empty signature fails before the key is read.
[[nodiscard]] bool verifyWithKey(const std::string& text, const std::string& signature,
                                 const std::string& pem);

// Tests only: puts another PEM key into the second slot (which starts as the build's successor key,
// or a copy of the first).
void setSecondTrustedKeyForTests(const std::string& pem);

// Developer tools and tests only: trusts this PEM key alone, in both slots, instead of the
// embedded one. The launcher itself never calls it.
void setTrustedKeysForTools(const std::string& pem);
