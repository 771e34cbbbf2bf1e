// Headless update run: one update run of a game folder, as the launcher's update worker performs
// it, without a window. For developers, benchmarks and end-to-end tests; not shipped with the
// launcher. Progress goes out as lines while the run works, the outcome at the end; the failure
// lists that the launcher would show in its window are answered from --answer.
//
// usage: update_tool.exe --folder DIR [options]
//   --server URL          update server base URL (ending in /patch); give it twice for primary and
//                         fallback (default: the servers compiled into this build)
//   --branch PATH         the branch's server path (default /lurra)
//   --key FILE            PEM public key trusted instead of the compiled-in one
//   --answer LIST         answers to failure lists in order, comma-separated: yes (continue anyway),
//                         no, cancel (try again later); the last one repeats (default: no)
//   --verify-all          check every file even when the installed version is current
//   --language en|ru      language of the texts (default ru, as the launcher's default)
//   --stall-ms N          give up a download that receives nothing for N ms (default 60000)
//   --retry-pause-ms N    pause before each repeated download attempt (default 1000 and 3000)
//   --no-news             do not fetch the news
//   --launcher-folder DIR where a launcher self-update keeps its files (default: the tool's folder)
//   --allow-launcher-update  let a newer published launcher replace this executable; without it a
//                         due launcher update is skipped
//   --progress-ms N       at most one progress line per N ms (default 250; 0: no progress lines)
//   --json                the outcome as one JSON object on standard output; progress and
//                         questions then go to standard error
//   --log                 the lines the launcher writes to launcher.log about a run, on standard
//                         error
// Exit code: 0 when the run ended in kStateFinished, 1 for any other end, 2 for wrong arguments.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/paths_win.h"
#include "base/run_log.h"
#include "config/settings.h"
#include "config/text_convert.h"
#include "crypto/signature_win.h"
#include "net/http_client_win.h"
#include "update/update_engine.h"
#include "update/update_run_win.h"

namespace {

enum class Answer { ContinueAnyway, Decline, TryAgain };

struct Options {
    WString folder;
    std::vector<std::string> servers;
    std::string branch = "/lurra";
    WString keyFile;
    std::vector<Answer> answers{Answer::Decline};
    bool verifyAll = false;
    bool english = false;
    std::optional<uint32_t> stallMs;
    std::optional<uint32_t> retryPauseMs;
    bool news = true;
    WString launcherFolder;
    bool allowLauncherUpdate = false;
    uint32_t progressMs = 250;
    bool json = false;
    bool log = false;
};

// Text to a standard handle: UTF-16 to a console, UTF-8 bytes to a file or pipe.
void writeTo(DWORD which, const std::wstring& text) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = wideToUtf8(text);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void usage(const wchar_t* problem) {
    writeTo(STD_ERROR_HANDLE,
            std::wstring(L"update_tool: ") + problem +
                L"\nusage: update_tool.exe --folder DIR [--server URL [--server URL]] "
                L"[--branch PATH] [--key FILE] [--answer yes|no|cancel[,...]] [--verify-all] "
                L"[--language en|ru] [--stall-ms N] [--retry-pause-ms N] [--no-news] "
                L"[--launcher-folder DIR] [--allow-launcher-update] [--progress-ms N] "
                L"[--json] [--log]\n");
}

std::optional<uint32_t> number(const std::wstring& text) {
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos || text.size() > 9) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 10));
}

std::optional<std::vector<Answer>> answerList(const std::wstring& text) {
    std::vector<Answer> answers;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(L',', start);
        const std::wstring word = text.substr(start, comma - start);
        if (word == L"yes") {
            answers.push_back(Answer::ContinueAnyway);
        } else if (word == L"no") {
            answers.push_back(Answer::Decline);
        } else if (word == L"cancel") {
            answers.push_back(Answer::TryAgain);
        } else {
            return std::nullopt;
        }
        if (comma == std::wstring::npos) return answers;
        start = comma + 1;
    }
}

WString withoutTrailingSeparators(WString path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// Applies one option that takes a value; false when the value is not acceptable.
bool applyValue(Options& options, const std::wstring& name, const std::wstring& value) {
    if (name == L"--folder") {
        options.folder = withoutTrailingSeparators(value);
    } else if (name == L"--server") {
        options.servers.push_back(wideToUtf8(value));
    } else if (name == L"--branch") {
        options.branch = wideToUtf8(value);
    } else if (name == L"--key") {
        options.keyFile = value;
    } else if (name == L"--answer") {
        const auto answers = answerList(value);
        if (!answers) return false;
        options.answers = *answers;
    } else if (name == L"--language") {
        if (value != L"en" && value != L"ru") return false;
        options.english = value == L"en";
    } else if (name == L"--stall-ms") {
        options.stallMs = number(value);
        return options.stallMs.has_value();
    } else if (name == L"--retry-pause-ms") {
        options.retryPauseMs = number(value);
        return options.retryPauseMs.has_value();
    } else if (name == L"--launcher-folder") {
        options.launcherFolder = withoutTrailingSeparators(value);
    } else if (name == L"--progress-ms") {
        const auto interval = number(value);
        if (!interval) return false;
        options.progressMs = *interval;
    } else {
        return false;
    }
    return true;
}

std::optional<Options> parseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (name == L"--verify-all") {
            options.verifyAll = true;
        } else if (name == L"--no-news") {
            options.news = false;
        } else if (name == L"--allow-launcher-update") {
            options.allowLauncherUpdate = true;
        } else if (name == L"--json") {
            options.json = true;
        } else if (name == L"--log") {
            options.log = true;
        } else if (i + 1 < argc && applyValue(options, name, argv[i + 1])) {
            ++i;
        } else {
            usage((L"bad option or value: " + name).c_str());
            return std::nullopt;
        }
    }
    if (options.folder.empty()) {
        usage(L"--folder is required");
        return std::nullopt;
    }
    return options;
}

std::optional<std::string> readTextFile(const WString& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes(65536, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    if (!read) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

bool configure(const Options& options) {
    appSettings().language.store(options.english ? Language::English : Language::Russian);
    if (!options.keyFile.empty()) {
        const auto pem = readTextFile(options.keyFile);
        if (!pem || pem->find("-----BEGIN PUBLIC KEY-----") == std::string::npos) {
            usage((L"no PEM public key in " + options.keyFile).c_str());
            return false;
        }
        setTrustedKeysForTools(*pem);
    }
    HttpTimings timings = httpTimings();
    if (options.stallMs) timings.stallLimitMs = *options.stallMs;
    if (options.retryPauseMs) {
        for (uint32_t& pause : timings.retryPauseMs) pause = *options.retryPauseMs;
    }
    setHttpTimingsForTests(timings);
    if (options.log)
        setRunLogMirror([](std::string_view line) { writeTo(STD_ERROR_HANDLE, utf8ToWide(line)); });
    return true;
}

const wchar_t* stateName(int32_t state) {
    static const wchar_t* const names[] = {L"created",
                                           L"detecting installed version",
                                           L"checking for updates",
                                           L"updating the launcher",
                                           L"patch info",
                                           L"checking files",
                                           L"downloading",
                                           L"finished",
                                           L"no descriptor",
                                           L"bad patch info",
                                           L"unchecked files",
                                           L"download failed",
                                           L"files in use"};
    return state >= 0 && state <= kStateFilesInUse ? names[state] : L"unknown";
}

// The window thread's part: progress lines and the answers to the run's questions.
class Console {
public:
    Console(UpdateEngine& engine, const Options& options)
        : engine(engine), options(options), stream(options.json ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE) {}

    void tick(bool force) {
        if (engine.dialogPending.load()) answerQuestion();
        const auto now = std::chrono::steady_clock::now();
        if (options.progressMs == 0 ||
            (!force && now - lastLine < std::chrono::milliseconds(options.progressMs)))
            return;
        const EngineTexts texts = copyEngineTexts(engine);
        const int32_t state = engine.state.load();
        wchar_t numbers[200];
        std::swprintf(numbers, 200, L" files %d/%d bytes %d/%d current %d/%d", engine.filesDone.load(),
                      engine.filesTotal.load(), engine.bytesDone.load(), engine.bytesTotal.load(),
                      engine.currentDone.load(), engine.currentTotal.load());
        std::wstring line = L"[" + std::to_wstring(state) + L" " + stateName(state) + L"]" + numbers;
        if (!texts.currentFile.empty()) line += L" file " + texts.currentFile;
        if (!texts.statusText.empty() && state < kStateFinished) line += L" | " + texts.statusText;
        if (line != previous) writeTo(stream, line + L"\n");
        previous = line;
        lastLine = now;
    }

    const std::vector<WString>& questions() const { return asked; }

private:
    void answerQuestion() {
        const WString question = copyEngineTexts(engine).dialogText;
        asked.push_back(question);
        const size_t index = std::min(asked.size(), options.answers.size()) - 1;
        const Answer answer = options.answers[index];
        const wchar_t* word = answer == Answer::ContinueAnyway ? L"yes"
                              : answer == Answer::Decline      ? L"no"
                                                               : L"cancel";
        writeTo(stream, L"question:\n" + question + L"\nanswer: " + word + L"\n");
        if (answer == Answer::ContinueAnyway) engine.dialogAnswer.store(true);
        if (answer == Answer::TryAgain) engine.stopRequested.store(true);
        engine.dialogPending.store(false);
    }

    UpdateEngine& engine;
    const Options& options;
    DWORD stream;
    std::vector<WString> asked;
    std::wstring previous;
    std::chrono::steady_clock::time_point lastLine{};
};

std::string jsonString(const std::wstring& text) {
    const std::string bytes = wideToUtf8(text);
    std::string quoted = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string outcomeJson(UpdateEngine& engine, int32_t state, const std::vector<WString>& questions) {
    const EngineTexts texts = copyEngineTexts(engine);
    std::string json = "{\"state\":" + std::to_string(state) +
                       ",\"message\":" + jsonString(texts.statusText) + ",\"questions\":[";
    for (size_t i = 0; i < questions.size(); ++i) json += (i ? "," : "") + jsonString(questions[i]);
    json += "],\"news\":" + jsonString(texts.newsText) +
            ",\"notPublished\":" + (engine.notPublished ? "true" : "false") +
            ",\"launcherUpdate\":" + jsonString(texts.launcherUpdateText) +
            ",\"displayVersion\":" + jsonString(utf8ToWide(texts.displayVersion)) +
            ",\"filesDone\":" + std::to_string(engine.filesDone.load()) +
            ",\"filesTotal\":" + std::to_string(engine.filesTotal.load()) + "}\n";
    return json;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options || !configure(*options)) return 2;

    UpdateRunSetup setup = launcherRunSetup();
    if (!options->servers.empty()) setup.serverBaseUrls = options->servers;
    if (!options->launcherFolder.empty()) setup.launcherFolder = options->launcherFolder;
    setup.mayUpdateLauncher = options->allowLauncherUpdate;

    UpdateEngine engine;
    engine.folder = options->folder;
    engine.serverPath = options->branch;
    engine.fetchNews = options->news;
    engine.verifyAll = options->verifyAll;

    // The run works on its own thread, as in the launcher; this thread plays the window's part.
    std::atomic<bool> finished{false};
    std::atomic<int32_t> finalState{kStateCreated};
    std::thread worker([&] {
        finalState.store(runUpdate(engine, setup));
        finished.store(true);
    });
    Console console(engine, *options);
    while (!finished.load()) {
        console.tick(false);
        Sleep(20);
    }
    worker.join();
    console.tick(true);

    const int32_t state = finalState.load();
    if (options->json) {
        writeTo(STD_OUTPUT_HANDLE, utf8ToWide(outcomeJson(engine, state, console.questions())));
    } else {
        writeTo(STD_OUTPUT_HANDLE, L"final state: " + std::to_wstring(state) + L" (" + stateName(state) +
                                       L")\nmessage: " + copyStatusText(engine) + L"\n");
    }
    return state == kStateFinished ? 0 : 1;
}
