#pragma once

// Update runs against the test server's two trusted HTTPS listeners, standing in for the primary
// and the fallback server. Both serve one tree published by the fixture builder; rules that name a
// port make one of them fail.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "config/text_convert.h"
#include "net/http_client_win.h"
#include "support/language_scope.h"
#include "support/release_fixture_win.h"
#include "support/test_env_win.h"
#include "support/test_server_win.h"
#include "update/update_engine.h"
#include "update/update_run_win.h"

inline constexpr Language kEnglish = Language::English;
inline constexpr Language kRussian = Language::Russian;

// A message as published, in both languages.
struct Message {
    const wchar_t* english;
    const wchar_t* russian;
    [[nodiscard]] const wchar_t* in(Language language) const {
        return language == kEnglish ? english : russian;
    }
};

// What the user answers to a failure list.
enum class Answer { ContinueAnyway, Decline, TryAgain };

// Stands in for the window thread: answers the run's questions in the given order (the last answer
// repeats) and records every question text.
class WindowStandIn {
public:
    WindowStandIn(UpdateEngine& engine, std::vector<Answer> answers)
        : engine(engine), answers(std::move(answers)), thread([this] { loop(); }) {}
    ~WindowStandIn() {
        stop.store(true);
        thread.join();
    }
    WindowStandIn(const WindowStandIn&) = delete;
    WindowStandIn& operator=(const WindowStandIn&) = delete;

    [[nodiscard]] std::vector<WString> questions() const {
        std::lock_guard<std::mutex> guard(mutex);
        return asked;
    }

private:
    void loop() {
        while (!stop.load()) {
            if (engine.dialogPending.load()) answer();
            Sleep(5);
        }
    }

    void answer() {
        size_t index = 0;
        {
            std::lock_guard<std::mutex> guard(mutex);
            asked.push_back(copyEngineTexts(engine).dialogText);
            index = std::min(asked.size(), answers.size()) - 1;
        }
        const Answer given = answers.empty() ? Answer::Decline : answers[index];
        if (given == Answer::ContinueAnyway) engine.dialogAnswer.store(true);
        if (given == Answer::TryAgain) engine.stopRequested.store(true);
        engine.dialogPending.store(false);
    }

    UpdateEngine& engine;
    std::vector<Answer> answers;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::vector<WString> asked;
    std::thread thread;
};

class UpdateRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.started()) << server.startFailure();
        ASSERT_TRUE(CreateDirectoryW(source.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(launcher.c_str(), nullptr));
        HttpTimings timings;
        timings.stallLimitMs = 2000;
        timings.retryPauseMs[0] = timings.retryPauseMs[1] = 20;
        setHttpTimingsForTests(timings);
        resetConnection();
        setup.serverBaseUrls = {server.httpsUrl(0) + "/patch", server.httpsUrl(1) + "/patch"};
        setup.launcherFolder = launcher;
    }
    void TearDown() override {
        setHttpTimingsForTests(HttpTimings{});
        resetConnection();
    }

    [[nodiscard]] uint16_t primary() const { return server.httpsPort(0); }
    [[nodiscard]] uint16_t fallback() const { return server.httpsPort(1); }
    [[nodiscard]] std::string primaryUrl() const { return setup.serverBaseUrls[0]; }

    // Writes a file below a folder, creating the folders on the way.
    static void writeBelow(const WString& folder, const std::string& path, const std::string& content) {
        const WString full = folder + L"\\" + utf8ToWide(path);
        ASSERT_TRUE(createParentFolders(full));
        ASSERT_TRUE(writeFileBytes(full, content));
    }
    // A file of the release to be published.
    void addReleaseFile(const std::string& path, const std::string& content) {
        writeBelow(source, path, content);
        releaseFiles.emplace_back(path, content);
    }
    // `count` small files "Scripts/fileNNN.lua" of different sizes.
    void addSmallReleaseFiles(int count) {
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Scripts/file%03d.lua", i);
            addReleaseFile(name,
                           std::string(static_cast<size_t>(10 + i * 37), static_cast<char>('a' + i % 26)));
        }
    }

    // Publishes the release files as version 144 (or as given) with further builder arguments.
    void publish(const std::vector<std::string>& extra = {}, const std::string& version = "144") {
        std::vector<std::string> arguments = {"--clean",
                                              "--out",
                                              server.rootUnix() + "/patch/lurra",
                                              "--version",
                                              version,
                                              "--source",
                                              unixPathFromWine(source)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string log;
        ASSERT_TRUE(runReleaseBuilder(arguments, &log)) << log;
    }

    // A new, empty game folder, never one that an earlier step of the test used (a file another
    // process still holds there could otherwise get in the way), and an engine set up for a run of
    // it on the first branch.
    WString newGameFolder(const std::wstring& name) {
        const WString folder = dir / (name + L"_" + std::to_wstring(++gameFolders));
        EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        return folder;
    }
    static void prepare(UpdateEngine& engine, const WString& gameFolder, bool verifyAll = false) {
        engine.folder = gameFolder;
        engine.serverPath = "/lurra";
        engine.verifyAll = verifyAll;
    }
    // Every release file with its published content, in the game folder.
    void installRelease(const WString& gameFolder, const std::string& installedVersion = "144") {
        for (const auto& [path, content] : releaseFiles) writeBelow(gameFolder, path, content);
        if (!installedVersion.empty()) {
            ASSERT_TRUE(writeFileBytes(gameFolder + L"\\VarnholdLauncher.ini", installedVersion));
        }
    }
    // True when every release file is in the folder with its published content.
    [[nodiscard]] bool holdsRelease(const WString& gameFolder) const {
        for (const auto& [path, content] : releaseFiles) {
            if (readFileBytes(gameFolder + L"\\" + utf8ToWide(path)) != content) return false;
        }
        return true;
    }
    // The manifest lists the files in byte order of their paths, as the fixture builder sorts them.
    [[nodiscard]] std::string uninstallListOfRelease() const {
        std::vector<std::string> paths;
        for (const auto& file : releaseFiles) paths.push_back(file.first);
        std::sort(paths.begin(), paths.end());
        std::string list;
        for (const std::string& path : paths) list += path + "\n";
        return list;
    }

    // Requests on one port whose target starts with `prefix`.
    [[nodiscard]] int requestsStartingWith(const std::string& prefix, uint16_t port) const {
        int count = 0;
        for (const ServerRequest& request : server.requests()) {
            if (request.port == port && request.path.rfind(prefix, 0) == 0) ++count;
        }
        return count;
    }
    [[nodiscard]] int objectRequests(uint16_t port) const {
        return requestsStartingWith("/patch/lurra/144/files/", port);
    }

    // Every request on the primary answers 503.
    void primaryDown() const {
        ASSERT_TRUE(server.setRules(R"([{"port": )" + std::to_string(primary()) +
                                    R"(, "prefix": "/", "action": "status", "status": 503}])"));
    }

    static void expectOutcome(UpdateEngine& engine, int32_t state, const Message& message,
                              Language language) {
        EXPECT_EQ(engine.state.load(), state);
        EXPECT_EQ(copyStatusText(engine), message.in(language));
    }

    ScratchDir dir;
    TestServer server{dir / L"server"};
    WString source = dir / L"source";
    WString launcher = dir / L"launcher";
    UpdateRunSetup setup;
    std::vector<std::pair<std::string, std::string>> releaseFiles;
    int gameFolders = 0;
};

// The run's messages, written out here independently of the launcher's text table.
inline constexpr Message kUpdatedMessage = {L"All files updated successfully!",
                                            L"Все файлы успешно обновлены!"};
inline constexpr Message kCheckedMessage = {L"All files checked and up to date!",
                                            L"Все файлы проверены и актуальны!"};
inline constexpr Message kNoConnectionMessage = {L"Could not connect to the update server!",
                                                 L"Не удалось подключиться к серверу обновлений!"};
inline constexpr Message kDowngradeMessage = {L"Server version is older than installed — downgrade skipped.",
                                              L"Серверная версия старее установленной — откат пропущен."};
inline constexpr Message kAlreadyInstalledMessage = {L"Latest version already installed!",
                                                     L"Установлена последняя версия!"};
inline constexpr Message kPatchInfoMessage = {
    L"The game was not updated and may not work correctly:\nfailed to load patch info!",
    L"Игра не была обновлена и может работать неправильно:\nне удалось загрузить информацию о патче!"};
inline constexpr Message kPatchSignatureMessage = {
    L"The game was not updated and may not work correctly:\nfailed to load the patch signature!",
    L"Игра не была обновлена и может работать неправильно:\nне удалось загрузить подпись патча!"};
inline constexpr Message kPatchVerificationMessage = {
    L"The game was not updated and may not work correctly:\npatch info signature verification failed!",
    L"Игра не была обновлена и может работать неправильно:\nподпись информации о патче не прошла проверку!"};
inline constexpr Message kCorruptPatchMessage = {
    L"The game was not updated and may not work correctly:\ncorrupted patch info!",
    L"Игра не была обновлена и может работать неправильно:\nповрежденная информация о патче!"};
inline constexpr Message kUncheckedMessage = {
    L"The game was not updated and may not work correctly:\nsome local files could not be checked!",
    L"Игра не была обновлена и может работать неправильно:\nчасть локальных файлов не удалось проверить!"};
inline constexpr Message kNothingButUncheckedMessage = {
    L"The game was not updated and may not work correctly:\nnothing to update, but some files could not be "
    L"checked!",
    L"Игра не была обновлена и может работать неправильно:\nобновлять нечего, но часть файлов не удалось "
    L"проверить!"};
inline constexpr Message kInUseMessage = {
    L"The game was not updated and may not work correctly:\nsome files are in use by another program or "
    L"access "
    L"is denied.",
    L"Игра не была обновлена и может работать неправильно:\nчасть файлов занята другой программой или нет "
    L"прав "
    L"доступа."};
inline constexpr Message kNotDownloadedMessage = {
    L"The game was not updated and may not work correctly:\nsome files could not be downloaded.",
    L"Игра не была обновлена и может работать неправильно:\nчасть файлов не удалось скачать."};
