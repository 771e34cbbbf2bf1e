#include "support/test_server_win.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

#include "base/handles_win.h"
#include "config/text_convert.h"
#include "support/test_env_win.h"

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kPollMs = 10;
constexpr DWORD kHeartbeatMs = 1000;

// The numbers of `"name": [1, 2]` in the server's ports file.
std::vector<uint16_t> portList(const std::string& json, const std::string& name) {
    std::vector<uint16_t> ports;
    const size_t key = json.find("\"" + name + "\"");
    if (key == std::string::npos) return ports;
    const size_t open = json.find('[', key);
    const size_t close = json.find(']', open);
    if (open == std::string::npos || close == std::string::npos) return ports;
    std::istringstream list(json.substr(open + 1, close - open - 1));
    std::string item;
    while (std::getline(list, item, ',')) {
        const int port = std::atoi(item.c_str());
        if (port > 0 && port < 65536) ports.push_back(static_cast<uint16_t>(port));
    }
    return ports;
}

long long jsonNumber(const std::string& json, const std::string& name) {
    const size_t key = json.find("\"" + name + "\"");
    if (key == std::string::npos) return 0;
    const size_t colon = json.find(':', key);
    return colon == std::string::npos ? 0 : std::atoll(json.c_str() + colon + 1);
}

uint16_t portAt(const std::vector<uint16_t>& ports, size_t index) {
    return index < ports.size() ? ports[index] : 0;
}

std::string urlFor(const char* scheme, uint16_t port) {
    // "localhost": the name in the test certificate, resolved by WinHTTP to 127.0.0.1.
    return std::string(scheme) + "://localhost:" + std::to_string(port);
}

ServerEvent parseEvent(const std::string& line) {
    ServerEvent event;
    std::istringstream tokens(line);
    tokens >> event.event;
    std::string token;
    while (tokens >> token) {
        const size_t equals = token.find('=');
        if (equals == std::string::npos) continue;
        event.fields[token.substr(0, equals)] = token.substr(equals + 1);
    }
    event.seconds = std::atof(event.field("t").c_str());
    return event;
}

}  // namespace

std::string ServerEvent::field(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

long long ServerEvent::number(const std::string& key) const {
    const std::string text = field(key);
    if (text.empty()) return -1;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' ? value : -1;
}

TestServer::TestServer(const WString& folder, const TestServerOptions& options)
    : folderPath(folder), rootPath(folder + L"\\root"), controlPath(folder + L"\\control") {
    const std::string unixFolder = unixPathFromWine(folderPath);
    if (unixFolder.empty()) {
        failure = "no Linux path for the server folder";
        return;
    }
    const std::string prepare = "mkdir -p " + shellQuote(unixFolder) + " && cd " + shellQuote(unixFolder) +
                                " && mkdir -p root control && rm -f ports.json control/stop control/exited";
    if (runUnixShell(prepare) != 0) {
        failure = "cannot prepare " + unixFolder;
        return;
    }
    startHeartbeat();

    std::string listeners;
    for (const uint16_t port : options.fixedHttpsPorts)
        listeners += " --listen https:" + std::to_string(port);
    for (int i = 0; i < options.trustedHttpsPorts; ++i) listeners += " --listen https";
    for (int i = 0; i < options.plainHttpPorts; ++i) listeners += " --listen http";
    for (int i = 0; i < options.untrustedHttpsPorts; ++i) listeners += " --listen untrusted";
    for (int i = 0; i < options.proxyPorts; ++i) listeners += " --listen proxy";
    for (const std::string& host : options.proxyHosts) listeners += " --proxy-host " + shellQuote(host);
    const std::string rating = options.rating.empty() ? "" : " --rating " + shellQuote(options.rating);
    const std::string server = std::string(VARNHOLD_SOURCE_DIR) + "/tests/server/update_server.py";
    const std::string tls = std::string(VARNHOLD_BINARY_DIR) + "/test-run/tls";
    // In the background with its own output file and no input, so that it never holds the test's
    // standard streams open; Wine gives no handle for a Linux child anyway.
    const std::string script =
        "cd " + shellQuote(unixFolder) + " && { /usr/bin/python3 " + shellQuote(server) +
        " --root root --control control --log server.log --ports-file ports.json" + " --tls-dir " +
        shellQuote(tls) + listeners + rating + " --idle-exit " + std::to_string(options.idleExitSeconds) +
        " --heartbeat control/heartbeat </dev/null >stdout.log 2>&1 & }";
    if (runUnixShell(script) != 0) {
        failure = "cannot start python3";
        return;
    }
    running = true;

    const WString portsFile = folderPath + L"\\ports.json";
    for (int waited = 0; waited < kStartTimeoutMs; waited += kPollMs) {
        if (const auto ports = readFileBytes(portsFile)) {
            if (ports->find("\"error\"") != std::string::npos) {
                failure = *ports;
                running = false;  // it has ended already
                return;
            }
            httpsPorts = portList(*ports, "https");
            httpPorts = portList(*ports, "http");
            untrustedPorts = portList(*ports, "untrusted");
            proxyListeners = portList(*ports, "proxy");
            serverPid = jsonNumber(*ports, "pid");
            failure.clear();
            return;
        }
        Sleep(kPollMs);
    }
    failure = "no ports file within " + std::to_string(kStartTimeoutMs) + " ms; see stdout.log";
}

TestServer::~TestServer() {
    stop();
    stopHeartbeat();
}

// The server stops when the heartbeat file has not changed for a while, so a test process that
// ends without stopping it (a crash, a killed run) leaves no server behind.
void TestServer::startHeartbeat() {
    heartbeatStop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const WString file = controlPath + L"\\heartbeat";
    if (!writeFileBytes(file, "0") || !heartbeatStop) return;
    const HANDLE stopEvent = heartbeatStop.get();
    heartbeat = std::thread([file, stopEvent] {
        for (unsigned beat = 1; WaitForSingleObject(stopEvent, kHeartbeatMs) == WAIT_TIMEOUT; ++beat) {
            (void)writeFileBytes(file, std::to_string(beat));
        }
    });
}

void TestServer::stopHeartbeat() {
    if (heartbeatStop) SetEvent(heartbeatStop.get());
    if (heartbeat.joinable()) heartbeat.join();
}

void TestServer::stop() {
    if (!running) return;
    running = false;
    if (!writeFileBytes(controlPath + L"\\stop", "stop\n")) return;
    for (int waited = 0; waited < kStopTimeoutMs; waited += kPollMs) {
        if (fileExists(controlPath + L"\\exited")) return;
        Sleep(kPollMs);
    }
    if (serverPid > 0) runUnixShell("kill " + std::to_string(serverPid) + " 2>/dev/null");
}

uint16_t TestServer::httpsPort(size_t index) const { return portAt(httpsPorts, index); }
uint16_t TestServer::httpPort(size_t index) const { return portAt(httpPorts, index); }
uint16_t TestServer::untrustedPort(size_t index) const { return portAt(untrustedPorts, index); }
uint16_t TestServer::proxyPort(size_t index) const { return portAt(proxyListeners, index); }
std::string TestServer::httpsUrl(size_t index) const { return urlFor("https", httpsPort(index)); }
std::string TestServer::httpUrl(size_t index) const { return urlFor("http", httpPort(index)); }
std::string TestServer::untrustedUrl(size_t index) const { return urlFor("https", untrustedPort(index)); }

std::string TestServer::rootUnix() const { return unixPathFromWine(rootPath); }

bool TestServer::publish(const std::string& relativePath, const std::string& bytes) const {
    WString path = rootPath;
    size_t start = 0;
    for (;;) {
        const size_t separator = relativePath.find_first_of("/\\", start);
        const std::string part = relativePath.substr(start, separator - start);
        path += L"\\" + utf8ToWide(part);
        if (separator == std::string::npos) break;
        CreateDirectoryW(path.c_str(), nullptr);
        start = separator + 1;
    }
    return writeFileBytes(path, bytes);
}

bool TestServer::setRules(const std::string& rulesJson) const {
    // Written beside and renamed over, so the server never reads half a file.
    const WString rules = controlPath + L"\\rules.json";
    const WString temporary = rules + L".tmp";
    return writeFileBytes(temporary, rulesJson) &&
           MoveFileExW(temporary.c_str(), rules.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::vector<ServerEvent> TestServer::events() const {
    std::vector<ServerEvent> events;
    const auto log = readFileBytes(folderPath + L"\\server.log");
    if (!log) return events;
    std::istringstream lines(*log);
    std::string line;
    // A line still being written has no line feed yet; getline would hand it over cut short.
    size_t consumed = 0;
    while (std::getline(lines, line)) {
        consumed += line.size() + 1;
        if (consumed > log->size()) break;
        if (!line.empty()) events.push_back(parseEvent(line));
    }
    return events;
}

std::vector<ServerRequest> TestServer::requests() const {
    std::vector<ServerRequest> requests;
    for (const ServerEvent& event : events()) {
        if (event.event != "request") continue;
        ServerRequest request;
        request.connection = static_cast<int>(event.number("conn"));
        request.port = static_cast<uint16_t>(event.number("port"));
        request.method = event.field("method");
        request.path = event.field("path");
        request.status = static_cast<int>(event.number("status"));
        request.length = event.number("length");
        request.rule = event.field("rule");
        request.range = event.field("range");
        request.seconds = event.seconds;
        requests.push_back(request);
    }
    return requests;
}

int TestServer::requestCount(const std::string& path, uint16_t port) const {
    int count = 0;
    for (const ServerRequest& request : requests()) {
        if (request.path == path && (port == 0 || request.port == port)) ++count;
    }
    return count;
}

int TestServer::connectionCount(uint16_t port) const {
    int count = 0;
    for (const ServerEvent& event : events()) {
        if (event.event == "connect" && event.number("port") == port) ++count;
    }
    return count;
}

bool TestServer::waitForEvents(const std::function<bool(const std::vector<ServerEvent>&)>& condition,
                               int timeoutMs) const {
    for (int waited = 0;; waited += kPollMs) {
        if (condition(events())) return true;
        if (waited >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}
