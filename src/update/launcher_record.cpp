#include "update/launcher_record.h"

#include <algorithm>

namespace {

constexpr char kRecordHeader[] = "# Varnhold launcher record - do not edit\n";

// The words of one line, split at blanks.
std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    size_t start = 0;
    while (start < line.size()) {
        const size_t end = std::min(line.find(' ', start), line.size());
        if (end > start) words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// A decimal number; `fallback` for anything that is not one whole.
int64_t numberOr(std::string_view word, int64_t fallback) {
    if (word.empty() || word.size() > 18) return fallback;
    int64_t value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') return fallback;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

LauncherRecord parseLauncherRecord(std::string_view text) {
    LauncherRecord record;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::vector<std::string_view> words = wordsOf(line);
        if (words.empty() || words[0].front() == '#') continue;
        if (words[0] == "pending" && words.size() == 2) {
            record.pending = std::string(words[1]);
        } else if (words[0] == "failed" && words.size() >= 2) {
            // A line cut short still says that this launcher failed here, once at least.
            FailedLauncher entry{std::string(words[1]), 1, 0};
            if (words.size() >= 3)
                entry.attempts = static_cast<int32_t>(std::clamp<int64_t>(numberOr(words[2], 1), 1, 1000));
            if (words.size() >= 4) entry.lastAttemptSeconds = numberOr(words[3], 0);
            record.failed.push_back(std::move(entry));
        } else if (words.size() == 1 && record.failed.empty() && start >= text.size()) {
            // The old record: the whole file is one checksum, without a line break.
            record.failed.push_back(FailedLauncher{std::string(words[0]), 1, 0});
        }
    }
    return record;
}

std::string formatLauncherRecord(const LauncherRecord& record) {
    std::string text = kRecordHeader;
    for (const FailedLauncher& entry : record.failed) {
        text += "failed " + entry.checksum + " " + std::to_string(entry.attempts) + " " +
                std::to_string(entry.lastAttemptSeconds) + "\n";
    }
    if (!record.pending.empty()) text += "pending " + record.pending + "\n";
    return text;
}

const FailedLauncher* findFailedLauncher(const LauncherRecord& record, std::string_view checksum) {
    for (const FailedLauncher& entry : record.failed) {
        if (entry.checksum == checksum) return &entry;
    }
    return nullptr;
}

LauncherVerdict judgeLauncher(const LauncherRecord& record, std::string_view checksum, int64_t nowSeconds) {
    const FailedLauncher* entry = findFailedLauncher(record, checksum);
    if (!entry) return LauncherVerdict::Take;
    if (entry->attempts >= kLauncherMaxAttempts) return LauncherVerdict::Never;
    const int64_t since = nowSeconds - entry->lastAttemptSeconds;
    return since >= kLauncherRetrySeconds || since <= -kLauncherRetrySeconds ? LauncherVerdict::Take
                                                                             : LauncherVerdict::NotToday;
}

void countLauncherAttempt(LauncherRecord& record, std::string_view checksum, int64_t nowSeconds) {
    auto entry = std::find_if(record.failed.begin(), record.failed.end(),
                              [&](const FailedLauncher& e) { return e.checksum == checksum; });
    if (entry == record.failed.end()) {
        record.failed.push_back(FailedLauncher{std::string(checksum), 1, nowSeconds});
    } else {
        entry->attempts = std::min(entry->attempts + 1, 1000);
        entry->lastAttemptSeconds = nowSeconds;
    }
    record.pending = std::string(checksum);
}

void forgetLauncher(LauncherRecord& record, std::string_view checksum) {
    record.failed.erase(std::remove_if(record.failed.begin(), record.failed.end(),
                                       [&](const FailedLauncher& e) { return e.checksum == checksum; }),
                        record.failed.end());
    record.pending.clear();
}
