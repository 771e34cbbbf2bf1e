// A launcher signed with Authenticode (osslsigncode, as scripts/release.sh signs one) and published
// through the publisher replaces a running launcher: the descriptor names the signed file's
// checksum and size, and the self-update takes the file byte for byte. The update tool, copied
// into a launcher folder under the launcher's name, stands in for the running launcher; the
// stand-in launcher, signed, is the new one.
#include <windows.h>

#include <gtest/gtest.h>

#include "crypto/sha256_win.h"
#include "support/child_process_win.h"
#include "support/update_run_fixture_win.h"
#include "support/wait_until.h"

namespace {

constexpr DWORD kToolLimitMs = 120000;

class SignedLauncher : public UpdateRun {};

TEST_F(SignedLauncher, SignedLauncherPublishedThroughThePublisherReplacesTheRunningOne) {
    const std::string folder = dir.unixPath();
    const std::string standIn = std::string(VARNHOLD_BINARY_DIR) + "/test-helpers/stand_in_launcher.exe";
    const std::string sign =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Varnhold Test Signing' -addext "
        "extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null && osslsigncode sign -certs "
        "cert.pem -key key.pem -h sha256 -n 'Varnhold launcher' -in " +
        shellQuote(standIn) +
        " -out signed.exe >sign.log 2>&1 && osslsigncode verify -CAfile cert.pem -in signed.exe >>sign.log "
        "2>&1";
    ASSERT_EQ(runUnixShell("cd " + shellQuote(folder) + " && " + sign), 0)
        << readFileBytes(dir / L"sign.log").value_or("");
    const std::optional<std::string> signedLauncher = readFileBytes(dir / L"signed.exe");
    ASSERT_TRUE(signedLauncher && *signedLauncher != readFileBytes(winePathFromUnix(standIn)));

    addReleaseFile("Scripts/a.lua", "a");
    publish({"--launcher", folder + "/signed.exe", "--launcher-version", "117"});
    const std::string descriptor =
        readFileBytes(winePathFromUnix(server.rootUnix() + "/patch/lurra/latest.txt")).value_or("");
    EXPECT_NE(descriptor.find("launcher_checksum=" + sha256FileHex(dir / L"signed.exe") + "\n"),
              std::string::npos)
        << descriptor;
    EXPECT_NE(descriptor.find("launcher_size=" + std::to_string(signedLauncher->size()) + "\n"),
              std::string::npos);

    const WString running = launcher + L"\\VarnholdLauncher.exe";
    const auto tool = readFileBytes(winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/update_tool.exe"));
    ASSERT_TRUE(tool && writeFileBytes(running, *tool));
    ASSERT_TRUE(writeFileBytes(launcher + L"\\stand_in_mode.txt", "healthy"));
    const WString game = newGameFolder(L"game");
    ChildOptions options(launcher);
    options.outputPath = dir / L"tool.out";
    const std::optional<DWORD> code =
        waitForChild(startChild(running,
                                L"\"" + running + L"\" --folder \"" + game + L"\" --server " +
                                    utf8ToWide(setup.serverBaseUrls[0]) + L" --server " +
                                    utf8ToWide(setup.serverBaseUrls[1]) +
                                    L" --allow-launcher-update --no-news --language en",
                                options),
                     kToolLimitMs);
    EXPECT_EQ(code, std::optional<DWORD>(0)) << readFileBytes(dir / L"tool.out").value_or("");

    // The signed file took the running launcher's place and, started, reported that it came up.
    const auto events = [&] { return readFileBytes(launcher + L"\\events.log").value_or(""); };
    EXPECT_NE(events().find("stand-in healthy -ignoreinstances -postupdate\nsignalled\n"), std::string::npos)
        << events();
    EXPECT_EQ(readFileBytes(running), signedLauncher);
    EXPECT_TRUE(waitUntil([&] { return events().find("healthy ended") != std::string::npos; }, 15000, 20));
}

}  // namespace
