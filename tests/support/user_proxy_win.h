#pragma once

#include <windows.h>

#include <string>

#include "net/http_client_win.h"

// The proxy settings of a user of the test's own, as Internet Options keeps them: the
// DefaultConnectionSettings value under HKCU\Software\Microsoft\Windows\CurrentVersion\Internet
// Settings\Connections, which WinHttpGetIEProxyConfigForCurrentUser reads. For the lifetime of the
// object this process's HKEY_CURRENT_USER is a key of its own (RegOverridePredefKey), so that the
// other test programs in the prefix keep their settings; the test CA is trusted there too, since
// the user's Root store lives under it. Sets the client back to the actual Windows and a fresh
// proxy discovery when it goes.
struct UserProxy {
    bool autoDetect = false;
    std::string autoConfigUrl;  // empty: none
    std::string proxy;          // "host:port", empty: none
    std::string bypass;         // "localhost;<local>", empty: none
};

class ProxyUser {
public:
    ProxyUser();
    ~ProxyUser();
    ProxyUser(const ProxyUser&) = delete;
    ProxyUser& operator=(const ProxyUser&) = delete;

    [[nodiscard]] bool ready() const { return failure.empty(); }
    [[nodiscard]] const std::string& whyNot() const { return failure; }
    // Writes the settings and has the client, behaving as `windows`, read them again.
    [[nodiscard]] bool set(const UserProxy& settings, WindowsForTests windows = WindowsForTests::Actual);

private:
    HKEY user = nullptr;
    std::wstring keyName;
    std::string failure;
};
