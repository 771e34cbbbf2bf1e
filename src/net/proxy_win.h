#pragma once

#include <windows.h>

#include <string>

#include "base/wstring.h"
#include "net/http_client_win.h"

// The way a session reaches its servers: WinHttpOpen's access type, with the proxy and the bypass
// list of WINHTTP_ACCESS_TYPE_NAMED_PROXY.
struct ProxyRoute {
    DWORD accessType = 0;
    WString proxy;
    WString bypass;
    [[nodiscard]] bool operator==(const ProxyRoute& other) const {
        return accessType == other.accessType && proxy == other.proxy && bypass == other.bypass;
    }
};

// The route to the server of `parts`, following the proxy settings of the user (Internet Options,
// the ones browsers use), not only the machine-wide WinHTTP setting:
// - on Windows 8.1 and later the system's automatic proxy, which follows them by itself;
// - on Windows 7 and 8, and under Wine (whose automatic proxy connects directly whatever the user
//   set), the settings as WinHttpGetIEProxyConfigForCurrentUser reads them: auto-detection, then
//   the auto-config script, each asked for this server with WinHttpGetProxyForUrl, then the fixed
//   proxy with its bypass list, then the direct connection (or the machine-wide setting).
// The settings are read once per process and each server's route is found once; a discovery that
// failed is not tried again. Both go to the run log. Any thread; `url` is the URL as requested, for
// the log.
[[nodiscard]] ProxyRoute proxyRouteFor(const UrlParts& parts, const std::string& url);

// The Windows that the tests have the client behave as (Actual outside tests).
[[nodiscard]] WindowsForTests windowsForTests();

// Whether this process runs under Wine, whose WinHTTP differs from Windows' where noted.
[[nodiscard]] bool runningUnderWine();

// For setWindowsForTests: stores the Windows to behave as, and forgets the settings read, the
// routes found and what was logged.
void resetProxyDiscovery(WindowsForTests windows);
