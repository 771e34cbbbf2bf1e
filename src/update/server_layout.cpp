#include "update/server_layout.h"

std::string branchBaseUrl(std::string_view serverBaseUrl, std::string_view serverPath) {
    std::string url(serverBaseUrl);
    url += serverPath;
    return url;
}

std::string releaseBaseUrl(std::string_view branchBaseUrl, int32_t gameVersion) {
    std::string url(branchBaseUrl);
    url += '/';
    url += std::to_string(gameVersion);
    return url;
}
