#pragma once

#include <cstdint>

#include "deployment_values.h"

// The launcher's fixed names, file names, remote paths and kernel-object names. Every other file
// takes them from here; the server addresses and the signing key come from the build's deployment
// values.

inline constexpr wchar_t kLauncherVersion[] = L"1.16";
// The self-update compares published launcher versions with this number (hundredths).
inline constexpr int32_t kLauncherVersionNumber = 116;
inline constexpr wchar_t kProductTitle[] = L"Tharnveil II — Варнхольд";

inline constexpr wchar_t kGameExeName[] = L"Tharnvl2.exe";
inline constexpr wchar_t kLauncherExeName[] = L"VarnholdLauncher.exe";
inline constexpr wchar_t kGameSoundLibrary[] = L"Mss23.dll";
inline constexpr wchar_t kSecondSoundLibrary[] = L"mss32.dll";
inline constexpr wchar_t kProxyMarker[] = L"proxy";

// Appended to the launcher folder.
inline constexpr wchar_t kSettingsFileName[] = L"\\launcher.ini";
inline constexpr wchar_t kErrorLogFileName[] = L"\\launcher_error.log";
// The old launcher during a self-update, until the new one has reported that its window is up.
inline constexpr wchar_t kOldLauncherBackupName[] = L"/old_launcher.bak";
// Appended to a game folder.
inline constexpr wchar_t kInstalledVersionFileName[] = L"\\VarnholdLauncher.ini";
inline constexpr wchar_t kUninstallListFileName[] = L"\\launcher_unins.ini";
inline constexpr wchar_t kChannelMarkerFileName[] = L"\\VarnholdChannel.ini";

// Primary first, then the fallback; each ends in "/patch".
inline constexpr int kUpdateServerCount = 2;
inline constexpr const char* kUpdateServerUrls[kUpdateServerCount] = {kDeployPrimaryServerUrl,
                                                                      kDeployFallbackServerUrl};
// The difficulty number 0 to 3 is appended.
inline constexpr const char* kRatingQueryUrlPrefix = kDeployRatingQueryUrl;
inline constexpr const char* kRatingPageUrl = kDeployRatingPageUrl;
// Client download pages, in branch table order.
inline constexpr const char* kClientPageUrls[2] = {kDeployClientPageUrlLurra, kDeployClientPageUrlKtvx};

// Remote paths below a branch base URL (or a release base URL for the manifest).
inline constexpr char kNewsV2Path[] = "/news_v2.txt";
inline constexpr char kNewsV2SigPath[] = "/news_v2.sig";
inline constexpr char kNewsPath[] = "/news.txt";
inline constexpr char kNewsSigPath[] = "/news.sig";
inline constexpr char kLatestPath[] = "/latest.txt";
inline constexpr char kLatestSigPath[] = "/latest.sig";
inline constexpr char kChecksumsPath[] = "/checksums.txt";
inline constexpr char kChecksumsSigPath[] = "/checksums.sig";
inline constexpr char kLatestLauncherPath[] = "/latest_launcher.exe";

inline constexpr wchar_t kUpdateHealthyEventName[] =
    L"VarnholdLauncherUpdateHealthy{3F9A0C27-6E41-4B8D-A5C2-91D07E4B6A13}";
// Also the main window's class name, so a second start can find the first window.
inline constexpr wchar_t kInstanceMutexName[] = L"VarnholdLauncher{3F9A0C27-6E41-4B8D-A5C2-91D07E4B6A13}";

// RSA public key (PEM SubjectPublicKeyInfo, 451 characters) that signs every server text.
inline constexpr const char* kSignaturePublicKeyPem = kDeployPublicKeyPem;
// The key of the second trusted slot: the one a key rotation moves to, or the first key again.
inline constexpr const char* kSuccessorSignaturePublicKeyPem = kDeploySuccessorPublicKeyPem;
