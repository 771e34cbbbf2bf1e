#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "branches/game_folder_win.h"
#include "support/exe_pictures_win.h"
#include "support/release_fixture_win.h"
#include "support/test_server_win.h"
#include "ui/canvas_win.h"
#include "ui/image_table.h"
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

    // The status line shows `text`: the screenshot's status area matches the text drawn by the
    // launcher's own drawing code over the background.
    void expectStatusShown(const WString& text, const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        ASSERT_TRUE(pictures.any());
        auto expected = pictures.at(kImageBackground, {layout.width, layout.height});
        ASSERT_NE(expected, nullptr);
        {
            Gdiplus::FontFamily family(L"Segoe UI");
            Canvas canvas(layout.width, layout.height, layout.fontBase, family);
            Gdiplus::Graphics graphics(expected.get());
            graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
            drawStatusText(canvas, graphics, layout.progressArea, text);
        }
        const POINT origin = clientOrigin(window);
        double share = 1;
        EXPECT_TRUE(waitUntil(
            [&] {
                Screenshot screen;
                if (!screen.take(name)) return false;
                share = differingShare(screen, origin, *expected, layout.progressArea, 40);
                return share < 0.01;
            },
            10000))
            << "status area differs from the text in " << share * 100 << " % of its pixels";
    }

    // The play button of a branch shows its enabled look (the normal picture), not the disabled one.
    [[nodiscard]] bool playLooksEnabled(size_t branch, const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        const PixelSize size = exePictureSize(launcher.exePath(), kImagePlayNormal, layout.height);
        const auto normal = pictures.at(kImagePlayNormal, size);
        const auto disabled = pictures.at(kImagePlayDisabled, size);
        const auto background = pictures.at(kImageBackground, {layout.width, layout.height});
        if (!normal || !disabled || !background) return false;
        const auto point = solidPixelIn(*normal, 0.0, 0.3, 0.04, 0.7);
        if (!point) return false;
        const IntRect& r = layout.play[branch];
        const int x = r.left + point->x;
        const int y = r.top + point->y;
        const Rgb under = pixelOf(*background, x, y);
        Screenshot screen;
        if (!screen.take(name)) return false;
        const Rgb seen = screen.atClient(clientOrigin(window), x, y);
        const Rgb enabledLook = blend(*normal, point->x, point->y, under);
        const Rgb disabledLook = blend(*disabled, point->x, point->y, under);
        return closeTo(seen, enabledLook, 6) && !closeTo(seen, disabledLook, 6);
    }

    // The in-window question lays a dark layer and its nearly black box over the screen: where the
    // background is bright enough to tell, the box's lower half is far darker than the background.
    [[nodiscard]] bool questionShown(const std::string& name) {
        const ExePictures pictures(launcher.exePath());
        const auto background = pictures.at(kImageBackground, {layout.width, layout.height});
        Screenshot screen;
        if (!background || !screen.take(name)) return false;
        const POINT origin = clientOrigin(window);
        const IntRect& box = layout.questionBox;
        int bright = 0;
        int darkened = 0;
        for (int y = box.top + box.height / 2; y < box.bottom() - 4; y += 9) {
            for (int x = box.left + 8; x < box.right() - 8; x += 23) {
                const Rgb plain = pixelOf(*background, x, y);
                if (plain.r + plain.g + plain.b < 90) continue;
                ++bright;
                const Rgb seen = screen.atClient(origin, x, y);
                if ((seen.r + seen.g + seen.b) * 3 < plain.r + plain.g + plain.b) ++darkened;
            }
        }
        return bright >= 5 && darkened * 10 >= bright * 9;
    }

    WString game = scratch / L"game";
    WString lastSmallFile;
    WString release = scratch / L"release";
    std::unique_ptr<TestServer> server;
};
