#include "crypto/signature_win.h"

#include <windows.h>

#include <wincrypt.h>

#include <climits>
#include <mutex>
#include <vector>

#include "base/constants.h"
#include "base/handles_win.h"
#include "crypto/sha256_digest_win.h"

namespace {

std::mutex slotLock;

// The trusted keys start as the embedded ones: the signing key, and in the second slot the key a
// rotation moves to (a copy of the first when the build names none). Only tests and developer
// tools replace them.
std::string& firstSlot() {
    static std::string slot(kSignaturePublicKeyPem);
    return slot;
}

std::string& secondSlot() {
    static std::string slot(kSuccessorSignaturePublicKeyPem);
    return slot;
}

std::string trustedKey(std::string& (*slot)()) {
    std::lock_guard<std::mutex> lock(slotLock);
    return slot();
}

// The CNG key of a PEM "PUBLIC KEY" text (SubjectPublicKeyInfo), decoded anew on every check.
UniqueKeyHandle importPublicKey(const std::string& pem) {
    DWORD derSize = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &derSize, nullptr, nullptr)) {
        return UniqueKeyHandle();
    }
    std::vector<BYTE> der(derSize, 0);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &derSize, nullptr, nullptr)) {
        return UniqueKeyHandle();
    }
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &infoSize)) {
        return UniqueKeyHandle();
    }
    UniqueLocalMemory infoMemory(info);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key)) return UniqueKeyHandle();
    return UniqueKeyHandle(key);
}

}  // namespace

bool verifyWithKey(const std::string& text, const std::string& signature, const std::string& pem) {
    if (signature.empty() || signature.size() > ULONG_MAX || pem.size() > ULONG_MAX) return false;
    Sha256Digester digester;
    Sha256Digest digest{};
    if (!digester.begin() || !digester.add(text.data(), text.size()) || !digester.finish(digest))
        return false;
    const UniqueKeyHandle key = importPublicKey(pem);
    if (!key) return false;
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    std::vector<UCHAR> signatureBytes(signature.begin(), signature.end());
    return BCryptVerifySignature(key.get(), &padding, digest.data(), static_cast<ULONG>(digest.size()),
                                 signatureBytes.data(), static_cast<ULONG>(signatureBytes.size()),
                                 BCRYPT_PAD_PKCS1) == 0;
}

bool verifySignature(const std::string& text, const std::string& signature) {
    if (verifyWithKey(text, signature, trustedKey(firstSlot))) return true;
    return verifyWithKey(text, signature, trustedKey(secondSlot));
}

void setSecondTrustedKeyForTests(const std::string& pem) {
    std::lock_guard<std::mutex> lock(slotLock);
    secondSlot() = pem;
}

void setTrustedKeysForTools(const std::string& pem) {
    std::lock_guard<std::mutex> lock(slotLock);
    firstSlot() = pem;
    secondSlot() = pem;
}
