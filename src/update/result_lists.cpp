#include "update/result_lists.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "config/text_convert.h"
#include "update/update_engine.h"
#include "update/update_texts.h"

namespace {

constexpr int kNamedFiles = 3;
constexpr auto kAnswerPollInterval = std::chrono::milliseconds(100);

}  // namespace

WString buildFailureListText(const FileManifest& manifest, const WString& header) {
    WString text = header;
    int failures = 0;
    for (const ManifestEntry& entry : manifest) {
        if (!entry.failed) continue;
        if (++failures > kNamedFiles) continue;
        text += L'\n';
        text += utf8ToWide(entry.path);
        text += localized(kFailureReasonOpener);
        text += entry.reason;
        text += localized(kFailureReasonCloser);
    }
    for (int unused = failures; unused < kNamedFiles; ++unused) text += L'\n';
    if (failures > kNamedFiles) {
        text += localized(kFailureOverflowOpener);
        text += std::to_wstring(failures - kNamedFiles);
        text += localized(kFailureOverflowCloser);
    }
    return text;
}

bool presentFailureList(UpdateEngine& engine, const FileManifest& manifest, const WString& header) {
    const WString text = buildFailureListText(manifest, header);
    if (!engine.stopRequested.load()) {
        {
            std::lock_guard<std::mutex> guard(engine.lock);
            engine.dialogText = text;
        }
        engine.dialogAnswer.exchange(false);
        engine.dialogPending.exchange(true);
        // The window thread answers at its tick; a try-again answer or a shutdown sets the cancel
        // request instead, which ends the wait within one interval.
        while (engine.dialogPending.load() && !engine.stopRequested.load()) {
            std::this_thread::sleep_for(kAnswerPollInterval);
        }
    }
    return engine.dialogAnswer.load();
}
