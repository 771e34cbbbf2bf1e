#include "update/release_info.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "base/constants.h"
#include "config/ini_reader.h"
#include "config/settings.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

bool isCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

int32_t parseVersionNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return 0;
    // The magnitude is capped one past the largest negative value, so that even a thousand digits
    // cannot overflow the accumulator; anything beyond the 32-bit range reads as 0.
    constexpr int64_t kLimit = static_cast<int64_t>(INT32_MAX) + 2;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), kLimit);
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return 0;
    return static_cast<int32_t>(value);
}

WString formatVersion(int32_t version) {
    const float value = static_cast<float>(version) / 100.0f;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(value));
    WString text;
    for (const char* c = buffer; *c; ++c) text += static_cast<wchar_t>(*c);
    return text;
}

int32_t installedVersionFromText(std::string_view fileBytes) {
    return parseVersionNumber(fileBytes.substr(0, fileBytes.find('\n')));
}

bool applyReleaseDescriptor(UpdateEngine& engine, std::string_view text, ReleaseInfo& info) {
    info = ReleaseInfo{};
    std::istringstream stream{std::string(text)};
    std::unique_ptr<IniDocument> document;
    try {
        document = std::make_unique<IniDocument>(stream);
    } catch (const std::runtime_error&) {
        return false;
    }
    IniSection& root = document->root;

    // Each value is stored as it is read; the window thread sees the launcher size and label
    // before the launcher download starts.
    info.gameVersion = parseVersionNumber(root.value("game_version"));
    info.launcherVersion = parseVersionNumber(root.value("launcher_version"));
    info.launcherChecksum = root.value("launcher_checksum");
    info.launcherSize = parseVersionNumber(root.value("launcher_size"));
    engine.currentTotal.exchange(info.launcherSize);
    setCurrentFile(engine, localized(kLauncherUpdateLabel));
    info.updateServers = parseVersionNumber(root.value("update_servers"));
    info.pack = root.value("pack");
    engine.pack = info.pack;
    info.packSize = parseVersionNumber(root.value("pack_size"));
    engine.packSize = info.packSize;

    // The display version shown first stays for the whole launcher session.
    {
        std::lock_guard<std::mutex> guard(engine.lock);
        if (engine.displayVersion.empty()) engine.displayVersion = root.value("display_version");
    }
    info.displayVersion = root.value("display_version");
    return true;
}

bool isSelfUpdateDue(const ReleaseInfo& info, const std::string& runningLauncherHash) {
    return info.launcherVersion > kLauncherVersionNumber && info.launcherChecksum != runningLauncherHash;
}

VersionDecision decideVersion(int32_t serverVersion, int32_t installedVersion, bool verifyAll) {
    if (serverVersion < 1) return VersionDecision::NoUsableRelease;
    if (serverVersion < installedVersion) return VersionDecision::DowngradeRefused;
    if (!verifyAll && serverVersion == installedVersion) return VersionDecision::AlreadyInstalled;
    return VersionDecision::CheckFiles;
}
