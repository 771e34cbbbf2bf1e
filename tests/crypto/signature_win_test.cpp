#include "crypto/signature_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/constants.h"
#include "config/text_convert.h"
#include "support/test_env_win.h"

namespace {

const std::string kText = "[launcher]\nversion=145\nlauncher_version=117\n";

// Texts are signed on the Linux side, as the release tools do: openssl over the exact bytes.
class Signature : public ::testing::Test {
protected:
    ~Signature() override { setSecondTrustedKeyForTests(kSuccessorSignaturePublicKeyPem); }

    std::string sign(const std::string& text, const std::string& privateKeyPath = VARNHOLD_TEST_PRIVATE_KEY) {
        const std::string name = "signed-" + std::to_string(++signatures);
        EXPECT_TRUE(writeFileBytes(dir / utf8ToWide(name + ".txt"), text));
        const std::string stem = dir.unixPath() + "/" + name;
        EXPECT_EQ(runUnixShell("openssl dgst -sha256 -sign " + shellQuote(privateKeyPath) + " -out " +
                               shellQuote(stem + ".sig") + " " + shellQuote(stem + ".txt")),
                  0);
        return readFileBytes(dir / utf8ToWide(name + ".sig")).value_or("");
    }

    // A second RSA key pair, unknown to the launcher. Returns the public key's PEM text.
    std::string makeOtherKeyPair() {
        const std::string folder = dir.unixPath();
        EXPECT_EQ(
            runUnixShell("cd " + shellQuote(folder) +
                         " && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out other.key" +
                         " 2>/dev/null && openssl pkey -in other.key -pubout -out other.pem"),
            0);
        otherPrivateKey = folder + "/other.key";
        return readFileBytes(dir / L"other.pem").value_or("");
    }

    ScratchDir dir;
    std::string otherPrivateKey;
    int signatures = 0;
};

TEST_F(Signature, AcceptsTheExactTextSignedWithTheEmbeddedKey) {
    const std::string signature = sign(kText);
    ASSERT_EQ(signature.size(), 256u);
    EXPECT_TRUE(verifyWithKey(kText, signature, kSignaturePublicKeyPem));
    EXPECT_TRUE(verifySignature(kText, signature));
    EXPECT_TRUE(verifySignature("", sign(""))) << "an empty text is hashed as zero bytes";
}

TEST_F(Signature, RejectsAnyChangeToTheSignatureOrTheText) {
    const std::string signature = sign(kText);
    ASSERT_EQ(signature.size(), 256u);
    const auto flipped = [&signature](size_t at) {
        std::string changed = signature;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        return changed;
    };
    std::string crlf;
    for (const char c : kText) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    const struct {
        const char* what;
        std::string text;
        std::string signature;
    } cases[] = {
        {"first byte changed", kText, flipped(0)},
        {"last byte changed", kText, flipped(255)},
        {"middle byte changed", kText, flipped(128)},
        {"one byte short", kText, signature.substr(0, 255)},
        {"one byte more", kText, signature + '\0'},
        {"empty signature", kText, ""},
        {"CR LF line ends", crlf, signature},
        {"byte-order mark in front", "\xEF\xBB\xBF" + kText, signature},
        {"last line feed missing", kText.substr(0, kText.size() - 1), signature},
        {"signature of another text", kText, sign("[launcher]\nversion=999\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(verifySignature(c.text, c.signature));
    }
}

TEST_F(Signature, KeyOfTheSecondSlotIsTrustedWhenTheFirstRejects) {
    const std::string otherPublicKey = makeOtherKeyPair();
    ASSERT_FALSE(otherPublicKey.empty());
    const std::string signature = sign(kText, otherPrivateKey);
    ASSERT_EQ(signature.size(), 256u);
    ASSERT_FALSE(verifyWithKey(kText, signature, kSignaturePublicKeyPem));
    EXPECT_FALSE(verifySignature(kText, signature)) << "neither slot holds that key";

    setSecondTrustedKeyForTests(otherPublicKey);
    EXPECT_TRUE(verifySignature(kText, signature));
    EXPECT_TRUE(verifySignature(kText, sign(kText))) << "the first slot still counts";
    EXPECT_FALSE(verifySignature(kText + " ", signature));
}

TEST_F(Signature, TextThatIsNoPublicKeyFailsTheCheck) {
    const std::string signature = sign(kText);
    const std::string pem = kSignaturePublicKeyPem;
    const auto certificate =
        readFileBytes(winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-run/tls/trusted/ca.pem"));
    ASSERT_TRUE(certificate.has_value());
    std::string otherModulus = pem;
    otherModulus[100] = otherModulus[100] == 'A' ? 'B' : 'A';

    const struct {
        const char* what;
        std::string pem;
    } cases[] = {
        {"empty", ""},
        {"not PEM", "public key"},
        {"cut short", pem.substr(0, 200)},
        {"a certificate", *certificate},
        {"another modulus", otherModulus},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(verifyWithKey(kText, signature, c.pem));
    }
}

}  // namespace
