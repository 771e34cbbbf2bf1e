#include "branches/folder_rules.h"

WString lowerAsciiLetters(WString text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

WString normalizeFolderText(WString path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    path = lowerAsciiLetters(std::move(path));
    while (!path.empty() && (path.back() == L'\\' || path.back() == L' ')) path.pop_back();
    return path;
}

bool isBlankFolderPath(const WString& path) {
    if (path.empty()) return false;
    for (wchar_t c : path) {
        if (c != L'\\' && c != L'/' && c != L' ') return false;
    }
    return true;
}

void appendListItem(WString& list, const wchar_t* item, const wchar_t* suffix) {
    if (!list.empty()) list += L", ";
    list += item;
    list += suffix;
}

std::string installMarkerText(std::string_view identifierUtf8) {
    std::string text = "# Varnhold install marker - do not edit\nchannel=";
    text += identifierUtf8;
    text += '\n';
    return text;
}

std::optional<bool> markerLineNamesOtherBranch(std::string_view line, std::string_view identifierUtf8) {
    while (!line.empty()) {
        const char last = line.back();
        if (last != '\r' && last != '\n' && last != ' ' && last != '\t') break;
        line.remove_suffix(1);
    }
    constexpr std::string_view kKey = "channel=";
    if (line.substr(0, kKey.size()) != kKey) return std::nullopt;
    const std::string_view value = line.substr(kKey.size());
    // An empty value names no branch: the marker then blocks nothing.
    return !value.empty() && value != identifierUtf8;
}
