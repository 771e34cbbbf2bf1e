#include "net/http_client_win.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/run_log.h"
#include "net/http_body_win.h"
#include "net/proxy_win.h"

namespace {

constexpr DWORD kHostBufferUnits = 256;
constexpr DWORD kPathBufferUnits = 2048;
constexpr size_t kConnectionKeyMaxUnits = 299;

std::mutex timingsLock;
HttpTimings currentTimings;
// Bumped by every change, so that open sessions pick up new time-outs.
std::atomic<uint32_t> timingsGeneration{0};

// The calling thread's WinHTTP state. Deliberately never destroyed: a thread-exit destructor may
// run under the loader lock, where closing WinHTTP handles can deadlock. The handles end with
// the process; a thread keeps one session (for one proxy route) and at most one connection.
struct TransferState {
    UniqueInternetHandle session;
    ProxyRoute sessionRoute;
    uint32_t sessionGeneration = 0;
    UniqueInternetHandle connection;
    WString connectionKey;
    uint32_t appliedTimings = 0;
    TransferOutcome outcome;
};

// Windows 7 SP1's WinHTTP offers only SSL 3.0 and TLS 1.0 unless asked for more; many servers and
// CDNs now take TLS 1.2 or newer only. SSL 3.0 is never offered.
constexpr DWORD kTlsUpTo12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                             WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
// Tried in turn: a system refuses the whole option when it does not know one of its flags (TLS 1.3
// before Windows 11; TLS 1.1 and 1.2 on a Windows 7 without its TLS update).
constexpr DWORD kProtocolChoices[] = {kTlsUpTo12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, kTlsUpTo12,
                                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1};
// What Windows 7 SP1 offers by itself, for the tests that stand in for it.
constexpr DWORD kWindows7OwnProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_SSL3 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
std::atomic<bool> protocolsLogged{false};
// Bumped when the tests change the Windows to behave as: every thread opens its session anew.
std::atomic<uint32_t> sessionsGeneration{0};

std::string protocolNames(DWORD flags) {
    std::string names;
    const auto add = [&names, flags](DWORD flag, const char* name) {
        if (!(flags & flag)) return;
        names += names.empty() ? "" : ", ";
        names += name;
    };
    add(WINHTTP_FLAG_SECURE_PROTOCOL_SSL3, "SSL 3.0");
    add(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1, "TLS 1.0");
    add(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1, "TLS 1.1");
    add(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, "TLS 1.2");
    add(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, "TLS 1.3");
    return names;
}

bool setSecureProtocols(HINTERNET session, DWORD flags) {
    if (windowsForTests() == WindowsForTests::Windows7 && (flags & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &flags, sizeof flags) != FALSE;
}

// The newest protocols the system knows, once per session; the first session's choice is logged.
void applySecureProtocols(HINTERNET session) {
    if (windowsForTests() == WindowsForTests::Windows7) {
        DWORD own = kWindows7OwnProtocols;
        (void)WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &own, sizeof own);
    }
    DWORD refused = 0;
    for (const DWORD flags : kProtocolChoices) {
        if (setSecureProtocols(session, flags)) {
            if (!protocolsLogged.exchange(true)) {
                logLine("secure protocols: " + protocolNames(flags) +
                        (refused ? " (the system refused " + protocolNames(refused & ~flags) + ")" : ""));
            }
            return;
        }
        refused |= flags;
    }
    const DWORD error = GetLastError();
    if (!protocolsLogged.exchange(true)) {
        logLine("secure protocols: the system's own (it refused TLS 1.0 to 1.3: " +
                describeTransferOutcome(TransferOutcome{0, error, nullptr}) + ")");
    }
}

TransferState& threadState() {
    thread_local TransferState* state = new TransferState;
    return *state;
}

[[nodiscard]] bool applyTimeouts(HINTERNET session) {
    const HttpTimings timings = httpTimings();
    if (!WinHttpSetTimeouts(session, timings.resolveTimeoutMs, timings.connectTimeoutMs,
                            timings.sendTimeoutMs, timings.receiveTimeoutMs)) {
        return false;
    }
    // The receive time-out also bounds the wait for the response header. Windows does that by
    // itself; Wine waits for the header without limit unless told, and players run the launcher
    // under Wine too.
    DWORD headerTimeoutMs = static_cast<DWORD>(timings.receiveTimeoutMs);
    return WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerTimeoutMs,
                            sizeof headerTimeoutMs) != FALSE;
}

// The session of the calling thread for `route`, opened on first use and again when a server
// needs another route (its connection goes with it). A failed open is tried again by the next
// request. Proxies are given to WinHttpOpen, not as a request option: Wine ignores that option.
HINTERNET threadSession(const ProxyRoute& route) {
    TransferState& state = threadState();
    const uint32_t generation = timingsGeneration.load();
    if (!state.session || !(state.sessionRoute == route) ||
        state.sessionGeneration != sessionsGeneration.load()) {
        resetConnection();
        state.session.reset(WinHttpOpen(kHttpUserAgent, route.accessType,
                                        route.proxy.empty() ? WINHTTP_NO_PROXY_NAME : route.proxy.c_str(),
                                        route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str(),
                                        0));
        if (!state.session) return nullptr;
        state.sessionRoute = route;
        state.sessionGeneration = sessionsGeneration.load();
        applySecureProtocols(state.session.get());
    } else if (state.appliedTimings == generation) {
        return state.session.get();
    }
    // A session whose time-outs could not be set still works, with the platform's defaults.
    (void)applyTimeouts(state.session.get());
    state.appliedTimings = generation;
    return state.session.get();
}

WString connectionKeyFor(const UrlParts& parts) {
    WString key = parts.host + L":" + std::to_wstring(parts.port) + L":" + (parts.secure ? L"1" : L"0");
    if (key.size() > kConnectionKeyMaxUnits) key.resize(kConnectionKeyMaxUnits);
    return key;
}

// The thread's connection to the server of `parts`: the kept one when it names the same host,
// port and scheme, otherwise a new one that replaces it.
HINTERNET threadConnection(HINTERNET session, const UrlParts& parts) {
    TransferState& state = threadState();
    const WString key = connectionKeyFor(parts);
    if (state.connection && state.connectionKey == key) return state.connection.get();
    resetConnection();
    UniqueInternetHandle connection(WinHttpConnect(session, parts.host.c_str(), parts.port, 0));
    if (!connection) return nullptr;
    state.connection = std::move(connection);
    state.connectionKey = key;
    return state.connection.get();
}

bool queryNumber(HINTERNET request, DWORD query, DWORD& value) {
    DWORD size = sizeof value;
    return WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                               &value, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

}  // namespace

HttpTimings httpTimings() {
    std::lock_guard<std::mutex> lock(timingsLock);
    return currentTimings;
}

void setWindowsForTests(WindowsForTests windows) {
    resetProxyDiscovery(windows);
    protocolsLogged.store(false);
    ++sessionsGeneration;
}

void setHttpTimingsForTests(const HttpTimings& timings) {
    {
        std::lock_guard<std::mutex> lock(timingsLock);
        currentTimings = timings;
    }
    ++timingsGeneration;
}

std::optional<UrlParts> crackUrl(const std::string& url) {
    // Only printable ASCII: the launcher builds its URLs from ASCII parts, and a control byte must
    // never reach the request line.
    WString wideUrl;
    wideUrl.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) return std::nullopt;
        wideUrl += static_cast<wchar_t>(byte);
    }
    std::vector<wchar_t> host(kHostBufferUnits, L'\0');
    std::vector<wchar_t> path(kPathBufferUnits, L'\0');
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host.data();
    components.dwHostNameLength = kHostBufferUnits;
    // No buffer for the extra information, so the query string stays in the path.
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = kPathBufferUnits;
    if (!WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &components)) {
        return std::nullopt;
    }
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
        return std::nullopt;
    }
    UrlParts parts;
    parts.host.assign(host.data(), components.dwHostNameLength);
    parts.path.assign(path.data(), components.dwUrlPathLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

namespace {

// Opens a GET request with `headers` (none when empty) and reads the response header. True when a
// status was read.
bool openRequest(const std::string& url, const WString& headers, HttpRequest& request) {
    TransferOutcome& outcome = currentTransferOutcome();
    outcome = TransferOutcome{};
    const auto failed = [&outcome] {
        outcome.error = GetLastError();
        return false;
    };
    const std::optional<UrlParts> parts = crackUrl(url);
    if (!parts) {
        outcome.problem = "not an http or https URL";
        return false;
    }
    const HINTERNET session = threadSession(proxyRouteFor(*parts, url));
    if (!session) return failed();
    const HINTERNET connection = threadConnection(session, *parts);
    if (!connection) return failed();

    request.handle.reset(WinHttpOpenRequest(connection, L"GET", parts->path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parts->secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request.handle) return failed();
    if (!WinHttpSendRequest(
            request.handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
            headers.empty() ? 0 : static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.handle.get(), nullptr)) {
        outcome.error = GetLastError();
        request.handle.reset();
        resetConnection();
        return false;
    }
    DWORD status = 0;
    if (!queryNumber(request.handle.get(), WINHTTP_QUERY_STATUS_CODE, status)) return failed();
    request.statusCode = status;
    outcome.statusCode = status;
    return true;
}

}  // namespace

bool openGet(const std::string& url, HttpRequest& request) {
    return openRequest(url, WString(), request) && request.statusCode == 200;
}

bool openGetFrom(const std::string& url, uint64_t firstByte, HttpRequest& request) {
    return openRequest(url, L"Range: bytes=" + std::to_wstring(firstByte) + L"-", request);
}

TransferOutcome lastTransferOutcome() { return threadState().outcome; }

TransferOutcome& currentTransferOutcome() { return threadState().outcome; }

void resetConnection() {
    TransferState& state = threadState();
    state.connection.reset();
    state.connectionKey.clear();
}

std::optional<uint64_t> announcedBodyLength(HINTERNET request) {
    // A chunked body ignores any Content-Length that comes with it.
    DWORD size = 0;
    const bool chunked =
        !WinHttpQueryHeaders(request, WINHTTP_QUERY_TRANSFER_ENCODING, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    if (chunked) return std::nullopt;

    wchar_t text[32] = {};
    size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    uint64_t length = 0;
    const wchar_t* c = text;
    while (*c == L' ') ++c;
    if (*c < L'0' || *c > L'9') return std::nullopt;
    for (; *c >= L'0' && *c <= L'9'; ++c) {
        if (length > (UINT64_MAX - 9) / 10) return std::nullopt;
        length = length * 10 + static_cast<uint64_t>(*c - L'0');
    }
    return length;
}

bool fetchToMemory(const std::string& url, std::string& body, uint32_t* statusOut, uint32_t maxBytes) {
    maxBytes = std::min(maxBytes, kMaxFetchBodyBytes);
    HttpRequest request;
    const bool opened = openGet(url, request);
    if (statusOut) *statusOut = request.statusCode;
    if (!opened) return false;

    // The rest of an unread body would spoil the kept connection, so every failure below drops it.
    TransferOutcome& outcome = currentTransferOutcome();
    const auto fail = [&request, &outcome](const char* problem) {
        if (problem) outcome.problem = problem;
        request.handle.reset();
        resetConnection();
        return false;
    };
    const auto failTooLarge = [&body, &fail] {
        std::string().swap(body);
        return fail("body too large");
    };
    body.clear();
    const std::optional<uint64_t> announced = announcedBodyLength(request.handle.get());
    if (announced && *announced > maxBytes) return failTooLarge();
    if (announced) body.reserve(static_cast<size_t>(*announced));

    std::vector<char> buffer(kReadBufferBytes, 0);
    for (;;) {
        DWORD got = 0;
        if (!WinHttpReadData(request.handle.get(), buffer.data(), kReadBufferBytes, &got)) {
            outcome.error = GetLastError();
            return fail(nullptr);
        }
        if (got == 0) break;
        if (got > maxBytes - body.size()) return failTooLarge();
        body.append(buffer.data(), got);
    }
    if (announced && body.size() != *announced) return fail("body cut short");
    return true;
}
