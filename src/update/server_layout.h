#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Where a branch's files lie on an update server. Both servers publish the same tree:
//   <branch base>/latest.txt, latest.sig, news_v2.txt/.sig, news.txt/.sig, latest_launcher.exe
//   <release base>/checksums.txt, checksums.sig, files/<SHA-256 of the gzip copy>.gz
// where the branch base is the server base URL (ending in "/patch") followed by the branch's
// server path, and the release base is the branch base, "/" and the game version.

[[nodiscard]] std::string branchBaseUrl(std::string_view serverBaseUrl, std::string_view serverPath);

// The run only gets here with a version of 1 or more, written without leading zeros.
[[nodiscard]] std::string releaseBaseUrl(std::string_view branchBaseUrl, int32_t gameVersion);
