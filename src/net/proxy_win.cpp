// The user's proxy: which way each session reaches its servers.
#include "net/proxy_win.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "base/run_log.h"
#include "net/transfer_outcome.h"
#include "net/winhttp_handle_win.h"

namespace {

// The settings of Internet Options, as WinHttpGetIEProxyConfigForCurrentUser gives them.
struct UserProxySettings {
    bool read = false;
    DWORD readError = 0;
    bool autoDetect = false;
    WString autoConfigUrl;
    WString proxy;
    WString bypass;
};

// Why a discovery mechanism gave no proxy, once it has failed; 0 while it has not.
struct DiscoveryFailures {
    DWORD autoDetect = 0;
    DWORD autoConfig = 0;
};

struct ProxyState {
    std::mutex lock;
    bool prepared = false;
    bool automatic = false;  // the system's automatic proxy follows the user's settings
    UserProxySettings user;
    DiscoveryFailures failed;
    std::map<WString, ProxyRoute> routes;  // by host, port and scheme
};

std::atomic<WindowsForTests> testedWindows{WindowsForTests::Actual};

// Never destroyed: a thread may still connect while static destructors run at exit.
ProxyState& proxyState() {
    static ProxyState* const state = new ProxyState;
    return *state;
}

// Proxy settings are addresses, so ASCII; anything else shows as "?" in the log.
std::string logText(const WString& text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

std::string quotedOrNone(const WString& text) { return text.empty() ? "none" : "\"" + logText(text) + "\""; }

std::string errorText(DWORD error) { return describeTransferOutcome(TransferOutcome{0, error, nullptr}); }

// Copies a string that WinHTTP allocated with GlobalAlloc and frees it.
WString takeGlobalText(LPWSTR text) {
    if (!text) return {};
    WString copy(text);
    GlobalFree(text);
    return copy;
}

UserProxySettings readUserSettings() {
    UserProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    settings.read = WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
    if (!settings.read) {
        settings.readError = GetLastError();
        return settings;
    }
    settings.autoDetect = config.fAutoDetect != FALSE;
    settings.autoConfigUrl = takeGlobalText(config.lpszAutoConfigUrl);
    settings.proxy = takeGlobalText(config.lpszProxy);
    settings.bypass = takeGlobalText(config.lpszProxyBypass);
    return settings;
}

// Windows 8.1 and later accept WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY; Windows 7 and 8 refuse it.
// Wine accepts it but then connects directly, whatever the user set.
bool automaticProxyAvailable() {
    switch (testedWindows.load()) {
        case WindowsForTests::Windows7:
            return false;
        case WindowsForTests::Windows81:
            return true;
        case WindowsForTests::Actual:
            break;
    }
    if (runningUnderWine()) return false;
    const UniqueInternetHandle probe(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    return static_cast<bool>(probe);
}

void logUserSettings(const ProxyState& state) {
    const UserProxySettings& user = state.user;
    std::string line = "proxy settings of this user: ";
    if (!user.read) {
        line += "not readable (" + errorText(user.readError) + ")";
    } else {
        line += std::string("auto-detect ") + (user.autoDetect ? "yes" : "no") + ", auto-config script " +
                quotedOrNone(user.autoConfigUrl) + ", proxy " + quotedOrNone(user.proxy) + ", bypass list " +
                quotedOrNone(user.bypass);
    }
    line += state.automatic ? "; the system's automatic proxy follows them (Windows 8.1 and later)"
                            : "; the launcher finds each server's proxy from them";
    logLine(line);
}

// One question to WinHttpGetProxyForUrl with one discovery mechanism; nothing when the mechanism
// fails (no script found, none downloaded, a broken script), with its error in `error`.
std::optional<ProxyRoute> askForUrl(const WString& url, DWORD flags, const WString& scriptUrl, DWORD& error) {
    const UniqueInternetHandle session(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        error = GetLastError();
        return std::nullopt;
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = flags;
    if (flags & WINHTTP_AUTOPROXY_AUTO_DETECT) {
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (flags & WINHTTP_AUTOPROXY_CONFIG_URL) options.lpszAutoConfigUrl = scriptUrl.c_str();
    // A script behind the user's own sign-on, as the browser fetches it.
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        error = GetLastError();
        return std::nullopt;
    }
    ProxyRoute route;
    route.proxy = takeGlobalText(info.lpszProxy);
    route.bypass = takeGlobalText(info.lpszProxyBypass);
    // "DIRECT" from the script.
    route.accessType = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !route.proxy.empty()
                           ? WINHTTP_ACCESS_TYPE_NAMED_PROXY
                           : WINHTTP_ACCESS_TYPE_NO_PROXY;
    if (route.accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        route.proxy.clear();
        route.bypass.clear();
    }
    return route;
}

// The route of one server by the user's settings, in the order the browser follows them; `how`
// says where it came from, for the log. Asks the network only for mechanisms that have not failed.
ProxyRoute discoverRoute(ProxyState& state, const WString& url, std::string& how) {
    const UserProxySettings& user = state.user;
    DWORD error = 0;
    if (user.autoDetect && state.failed.autoDetect == 0) {
        if (const auto found = askForUrl(url, WINHTTP_AUTOPROXY_AUTO_DETECT, {}, error)) {
            how = "found by auto-detection";
            return *found;
        }
        state.failed.autoDetect = error ? error : ERROR_WINHTTP_AUTODETECTION_FAILED;
    }
    if (!user.autoConfigUrl.empty() && state.failed.autoConfig == 0) {
        if (const auto found = askForUrl(url, WINHTTP_AUTOPROXY_CONFIG_URL, user.autoConfigUrl, error)) {
            how = "from the auto-config script";
            return *found;
        }
        state.failed.autoConfig = error ? error : ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT;
    }
    std::string failures;
    if (user.autoDetect) failures += "auto-detection failed: " + errorText(state.failed.autoDetect);
    if (!user.autoConfigUrl.empty()) {
        failures += std::string(failures.empty() ? "" : "; ") +
                    "auto-config script failed: " + errorText(state.failed.autoConfig);
    }
    if (!user.proxy.empty()) {
        how = "the user's proxy" + (failures.empty() ? std::string() : "; " + failures);
        return ProxyRoute{WINHTTP_ACCESS_TYPE_NAMED_PROXY, user.proxy, user.bypass};
    }
    how = failures.empty() ? "no proxy set" : failures;
    // Direct, unless the machine-wide WinHTTP setting names a proxy.
    return ProxyRoute{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, {}, {}};
}

std::string describeRoute(const ProxyRoute& route) {
    if (route.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        return logText(route.proxy) +
               (route.bypass.empty() ? std::string() : ", bypass list \"" + logText(route.bypass) + "\"");
    }
    if (route.accessType == WINHTTP_ACCESS_TYPE_NO_PROXY) return "none, direct";
    return "none, direct or the machine-wide WinHTTP proxy";
}

// "https://host:port" of a URL as requested.
std::string serverOf(const std::string& url) {
    const size_t host = url.find("://");
    const size_t path = host == std::string::npos ? std::string::npos : url.find('/', host + 3);
    return url.substr(0, path);
}

}  // namespace

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WindowsForTests windowsForTests() { return testedWindows.load(); }

void resetProxyDiscovery(WindowsForTests windows) {
    ProxyState& state = proxyState();
    std::lock_guard<std::mutex> guard(state.lock);
    testedWindows.store(windows);
    state.prepared = false;
    state.user = UserProxySettings{};
    state.failed = DiscoveryFailures{};
    state.routes.clear();
}

ProxyRoute proxyRouteFor(const UrlParts& parts, const std::string& url) {
    ProxyState& state = proxyState();
    // Held through a discovery, which may take seconds: a second thread waits for its answer
    // instead of asking the network the same question.
    std::lock_guard<std::mutex> guard(state.lock);
    if (!state.prepared) {
        state.prepared = true;
        state.automatic = automaticProxyAvailable();
        state.user = readUserSettings();
        logUserSettings(state);
    }
    if (state.automatic) return ProxyRoute{WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, {}, {}};

    const WString key = parts.host + L":" + std::to_wstring(parts.port) + (parts.secure ? L":1" : L":0");
    const auto known = state.routes.find(key);
    if (known != state.routes.end()) return known->second;
    // The URL is printable ASCII (crackUrl took it): each byte is one UTF-16 unit.
    const WString wideUrl(url.begin(), url.end());
    std::string how;
    const ProxyRoute route = discoverRoute(state, wideUrl, how);
    state.routes.emplace(key, route);
    logLine("proxy for " + serverOf(url) + ": " + describeRoute(route) + " (" + how + ")");
    return route;
}
