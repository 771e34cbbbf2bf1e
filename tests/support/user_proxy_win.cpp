#include "support/user_proxy_win.h"

#include <wincrypt.h>

#include <vector>

#include "support/test_env_win.h"

namespace {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
// The header of the settings value: its version, a change counter and the kind flags.
constexpr DWORD kSettingsVersion = 0x46;
constexpr DWORD kDirect = 0x1;
constexpr DWORD kFixedProxy = 0x2;
constexpr DWORD kAutoConfigScript = 0x4;
constexpr DWORD kAutoDetect = 0x8;

void appendNumber(std::vector<BYTE>& blob, DWORD value) {
    for (int shift = 0; shift < 32; shift += 8) blob.push_back(static_cast<BYTE>(value >> shift));
}

void appendText(std::vector<BYTE>& blob, const std::string& text) {
    appendNumber(blob, static_cast<DWORD>(text.size()));
    blob.insert(blob.end(), text.begin(), text.end());
}

}  // namespace

ProxyUser::ProxyUser() {
    static int made = 0;
    keyName = L"Software\\VarnholdTests\\User" + std::to_wstring(GetCurrentProcessId()) + L"_" +
              std::to_wstring(++made);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user,
                        nullptr) != ERROR_SUCCESS) {
        failure = "cannot create the user's key below HKCU\\Software\\VarnholdTests";
        return;
    }
    if (RegOverridePredefKey(HKEY_CURRENT_USER, user) != ERROR_SUCCESS) {
        failure = "RegOverridePredefKey failed";
        return;
    }
    const auto ca =
        readFileBytes(winePathFromUnix(std::string(VARNHOLD_BINARY_DIR) + "/test-run/tls/trusted/ca.der"));
    if (!ca || !CertAddEncodedCertificateToSystemStoreA("Root", reinterpret_cast<const BYTE*>(ca->data()),
                                                        static_cast<DWORD>(ca->size()))) {
        failure = "cannot trust the test CA for the user";
        return;
    }
}

ProxyUser::~ProxyUser() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (user) {
        RegCloseKey(user);
        RegDeleteTreeW(HKEY_CURRENT_USER, keyName.c_str());
    }
    setWindowsForTests(WindowsForTests::Actual);
}

bool ProxyUser::set(const UserProxy& settings, WindowsForTests windows) {
    std::vector<BYTE> blob;
    appendNumber(blob, kSettingsVersion);
    appendNumber(blob, 1);
    appendNumber(blob, kDirect | (settings.proxy.empty() ? 0 : kFixedProxy) |
                           (settings.autoConfigUrl.empty() ? 0 : kAutoConfigScript) |
                           (settings.autoDetect ? kAutoDetect : 0));
    appendText(blob, settings.proxy);
    appendText(blob, settings.bypass);
    appendText(blob, settings.autoConfigUrl);
    blob.resize(blob.size() + 32, 0);
    HKEY connections = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &connections, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool written = RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY, blob.data(),
                                        static_cast<DWORD>(blob.size())) == ERROR_SUCCESS;
    RegCloseKey(connections);
    setWindowsForTests(windows);
    return written;
}
