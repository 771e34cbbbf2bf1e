#include "config/settings.h"

#include <sstream>
#include <stdexcept>

#include "config/ini_reader.h"
#include "config/text_convert.h"

Settings& appSettings() {
    static Settings settings;
    return settings;
}

std::string buildSettingsText(const Settings& settings) {
    std::string text = "# VarnholdLauncher config (UTF-8)\n[paths]\n";
    for (int i = 0; i < kBranchCount; ++i) {
        text += kBranches[i].identifierUtf8;
        text += '=';
        text += wideToUtf8(settings.branchFolders[static_cast<size_t>(i)]);
        text += '\n';
    }
    text += "[ui]\nlanguage=";
    text += settings.language.load() == Language::English ? "en" : "ru";
    text += '\n';
    return text;
}

bool applySettingsText(Settings& settings, std::string_view text) {
    for (WString& folder : settings.branchFolders) folder.clear();
    std::istringstream stream{std::string(text)};
    try {
        IniDocument document(stream);
        IniSection& paths = document.root.section("paths");
        for (int i = 0; i < kBranchCount; ++i) {
            const std::string& folder = paths.value(kBranches[i].identifierUtf8);
            if (!folder.empty()) settings.branchFolders[static_cast<size_t>(i)] = utf8ToWide(folder);
        }
        // A file without the key switches to Russian: only the exact value "en" selects English.
        const bool english = document.root.section("ui").value("language") == "en";
        settings.language.exchange(english ? Language::English : Language::Russian);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}
