#pragma once

#include <string>

// RSASSA-PKCS1-v1_5 with SHA-256 over the exact bytes of a server text. True when the signature
// verifies under the first trusted key or, failing that, the second.
[[nodiscard]] bool verifySignature(const std::string& text, const std::string& signature);

// The check under one PEM "PUBLIC KEY" text.
[[nodiscard]] bool verifyWithKey(const std::string& text, const std::string& signature,
                                 const std::string& pem);
