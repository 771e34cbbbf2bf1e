#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "support/game_folder_win.h"
#include "support/release_fixture_win.h"
#include "support/test_server_win.h"
#include "ui/launcher_test_fixture_win.h"

// A launcher whose first branch folder holds the game, against the test update server on the
// addresses compiled into the test build (https://localhost:8443 and 8444 for the updates, 8445
// for the rating). Those ports are the machine's: a server of another test run holding them is
// waited for.
class UpdatingLauncher : public RunningLauncher {
protected:
    void SetUp() override {
        RunningLauncher::SetUp();
        ASSERT_TRUE(makeCompleteGameFolder(game));
        ASSERT_TRUE(writeFileBytes(game + L"\\Mss23.dll", "sound library"));
        startServer();
    }

    void TearDown() override {
        RunningLauncher::TearDown();
        if (server) server->stop();
    }

    void startServer() {
        std::string failure;
        TestServerOptions options;
        options.fixedHttpsPorts = {8443, 8444, 8445};
        options.trustedHttpsPorts = 0;
        options.plainHttpPorts = 0;
        options.untrustedHttpsPorts = 0;
        options.rating = "builtin";
        ASSERT_TRUE(waitUntil(
            [&] {
                server = std::make_unique<TestServer>(scratch / L"server", options);
                if (server->started()) return true;
                failure = server->startFailure();
                server.reset();
                Sleep(1000);
                return false;
            },
            120000))
            << "the fixed ports 8443 to 8445 stayed taken: " << failure;
    }

    // The release's files: Imgs/data.bin as the game folder has it, and mod files the game folder
    // does not have yet, `largeBytes` of them in one file.
    void makeReleaseFiles(size_t smallFiles = 12, size_t largeBytes = 3 << 20) {
        lastSmallFile = L"Imgs\\mod_" + std::to_wstring(smallFiles - 1) + L".dds";
        ASSERT_TRUE(makeFolders(release + L"\\Imgs") && makeFolders(release + L"\\ScenData"));
        ASSERT_TRUE(writeFileBytes(release + L"\\Imgs\\data.bin", "data"));
        uint32_t seed = 12345;
        auto bytes = [&seed](size_t count) {
            std::string data(count, '\0');
            for (char& c : data) {
                seed = seed * 1664525u + 1013904223u;
                c = static_cast<char>(seed >> 24);
            }
            return data;
        };
        for (size_t i = 0; i < smallFiles; ++i) {
            ASSERT_TRUE(
                writeFileBytes(release + L"\\Imgs\\mod_" + std::to_wstring(i) + L".dds", bytes(64 << 10)));
        }
        ASSERT_TRUE(writeFileBytes(release + L"\\ScenData\\intro_mod.dat", bytes(largeBytes)));
    }

    // Publishes the release files as version `version` of the first branch.
    void publish(int version, const std::vector<std::string>& extra = {},
                 const std::string& branch = "lurra") {
        std::vector<std::string> arguments = {"--out",
                                              server->rootUnix() + "/patch/" + branch,
                                              "--clean",
                                              "--version",
                                              std::to_string(version),
                                              "--source",
                                              unixPathFromWine(release)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string log;
        ASSERT_TRUE(runReleaseBuilder(arguments, &log)) << log;
    }

    // Every mod file of the release is in the game folder with the release's bytes.
    [[nodiscard]] bool releaseInstalled() const {
        for (const WString& relative :
             {WString(L"Imgs\\mod_0.dds"), lastSmallFile, WString(L"ScenData\\intro_mod.dat")}) {
            const auto local = readFileBytes(game + L"\\" + relative);
            if (!local || local != readFileBytes(release + L"\\" + relative)) return false;
        }
        return fileExists(game + L"\\VarnholdLauncher.ini");
    }

    // How many requests for this path the server has answered.
    [[nodiscard]] int requests(const std::string& path) const { return server->requestCount(path); }

    WString game = scratch / L"game";
    WString lastSmallFile;
    WString release = scratch / L"release";
    std::unique_ptr<TestServer> server;
};
