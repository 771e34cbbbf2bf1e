#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/handles_win.h"
#include "base/wstring.h"

// The Python update server (tests/server/update_server.py) run on loopback for one test: HTTPS
// listeners with the trusted test certificate (stand-ins for the primary and fallback update
// servers), plain HTTP listeners and HTTPS listeners with an untrusted certificate, all serving
// one folder tree. Rules and the event log are files, so a test never opens a control connection
// that would disturb the client's connection reuse.

struct TestServerOptions {
    // Trusted HTTPS listeners on these port numbers come first (for code that has its server
    // addresses compiled in, such as https://localhost:8443); the counts below add listeners on
    // free ports after them.
    std::vector<uint16_t> fixedHttpsPorts;
    int trustedHttpsPorts = 2;
    int plainHttpPorts = 1;
    int untrustedHttpsPorts = 1;
    // The server ends by itself after this long without a connection, and within seconds of the
    // end of the test process, so a crashed test leaves nothing running.
    int idleExitSeconds = 300;
    // The rating service on every listener (see update_server.py): "builtin", or the name of a
    // JSON file in the server's folder, read at every request. Empty: no rating service.
    std::string rating{};
    // HTTP CONNECT proxies, and the host names that only they resolve (to 127.0.0.1).
    int proxyPorts = 0;
    std::vector<std::string> proxyHosts{};
};

// One line of the server's event log: "EVENT t=SECONDS key=value ...".
struct ServerEvent {
    std::string event;  // listen, connect, tls-fail, request, sent, close, tunnel, exit
    double seconds = 0;
    std::map<std::string, std::string> fields;

    [[nodiscard]] std::string field(const std::string& key) const;  // "" when missing
    [[nodiscard]] long long number(const std::string& key) const;   // -1 when missing or not a number
};

// A "request" event: written before the first byte of the response goes out.
struct ServerRequest {
    int connection = 0;  // TCP connection number, counted from 1 across all listeners
    uint16_t port = 0;
    std::string method;
    std::string path;  // the request target as sent, query included
    int status = 0;
    long long length = -1;  // announced Content-Length, -1 when none was sent
    std::string rule;       // index of the matching rule, "-" for none
    std::string range;      // the Range header as sent, "-" for none
    double seconds = 0;     // since the server started
};

class TestServer {
public:
    // Starts the server with its files below `folder` (created when missing): root\ (served),
    // control\ (rules.json, stop), server.log (events), ports.json, stdout.log. Waits until every
    // listener listens; started() tells whether that happened.
    explicit TestServer(const WString& folder, const TestServerOptions& options = {});
    ~TestServer();  // stops the server and waits for it to end
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    [[nodiscard]] bool started() const { return failure.empty(); }
    // Why the server did not start ("" when it did), e.g. a fixed port that is taken.
    [[nodiscard]] const std::string& startFailure() const { return failure; }

    [[nodiscard]] uint16_t httpsPort(size_t index = 0) const;
    [[nodiscard]] uint16_t httpPort(size_t index = 0) const;
    [[nodiscard]] uint16_t untrustedPort(size_t index = 0) const;
    [[nodiscard]] uint16_t proxyPort(size_t index = 0) const;
    // "https://localhost:PORT", "http://localhost:PORT": no trailing slash, append the path.
    [[nodiscard]] std::string httpsUrl(size_t index = 0) const;
    [[nodiscard]] std::string httpUrl(size_t index = 0) const;
    [[nodiscard]] std::string untrustedUrl(size_t index = 0) const;
    // "https://localhost:PORT/v1/top?diff=": the rating query prefix, the difficulty follows.
    [[nodiscard]] std::string ratingQueryUrl(size_t index = 0) const {
        return httpsUrl(index) + "/v1/top?diff=";
    }

    // The served folder: a Windows path for the test, a Linux path for fixture tools.
    [[nodiscard]] const WString& root() const { return rootPath; }
    [[nodiscard]] std::string rootUnix() const;
    // Writes root\relativePath ("/" or "\" separated), creating its folders.
    [[nodiscard]] bool publish(const std::string& relativePath, const std::string& bytes) const;

    // Replaces the rules with `rulesJson`, a JSON array (see update_server.py); the next request
    // already sees them. Counts of "times" restart with every change.
    [[nodiscard]] bool setRules(const std::string& rulesJson) const;
    [[nodiscard]] bool clearRules() const { return setRules("[]"); }

    [[nodiscard]] std::vector<ServerEvent> events() const;
    [[nodiscard]] std::vector<ServerRequest> requests() const;
    // Requests for exactly this target (query included); on one port, or on any when port is 0.
    [[nodiscard]] int requestCount(const std::string& path, uint16_t port = 0) const;
    // TCP connections accepted on a port (also those whose TLS handshake failed).
    [[nodiscard]] int connectionCount(uint16_t port) const;
    // Waits until the event log satisfies `condition`, at most `timeoutMs`; returns whether it did.
    // For events written after the response (sent, close).
    [[nodiscard]] bool waitForEvents(const std::function<bool(const std::vector<ServerEvent>&)>& condition,
                                     int timeoutMs = 5000) const;

    // Stops the server and waits for it to end (also done by the destructor).
    void stop();

private:
    void startHeartbeat();
    void stopHeartbeat();

    WString folderPath;
    WString rootPath;
    WString controlPath;
    std::vector<uint16_t> httpsPorts;
    std::vector<uint16_t> httpPorts;
    std::vector<uint16_t> untrustedPorts;
    std::vector<uint16_t> proxyListeners;
    long long serverPid = 0;
    bool running = false;
    std::string failure = "not started";
    UniqueKernelHandle heartbeatStop;
    std::thread heartbeat;
};
