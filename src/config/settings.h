#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/wstring.h"
#include "config/branch_table.h"

// The user's settings, kept in launcher.ini next to the launcher executable.
struct Settings {
    // One game folder per branch, in branch table order; empty when not chosen. Written only by
    // the window thread.
    std::array<WString, kBranchCount> branchFolders;
    // 1 = English, anything else = Russian. Read by the background threads too.
    std::atomic<int32_t> language{0};
};

// The process-wide settings.
[[nodiscard]] Settings& appSettings();

[[nodiscard]] inline bool isEnglish() { return appSettings().language.load() == 1; }

// Every user-visible text exists in both languages; the pair is chosen when the text is built.
struct TextPair {
    const wchar_t* english;
    const wchar_t* russian;
};
[[nodiscard]] inline const wchar_t* localized(const TextPair& text) {
    return isEnglish() ? text.english : text.russian;
}

// The exact six-line text of launcher.ini for these settings.
[[nodiscard]] std::string buildSettingsText(const Settings& settings);

// Takes the folders and the language from the text of a settings file. A text the INI reader
// rejects is ignored as a whole: false, and nothing but the folders (emptied) changes.
bool applySettingsText(Settings& settings, std::string_view text);
