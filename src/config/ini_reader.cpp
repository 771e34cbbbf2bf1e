#include "config/ini_reader.h"

#include <stdexcept>
#include <string_view>

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

IniSection& IniSection::section(const std::string& name) {
    std::unique_ptr<IniSection>& child = sections[name];
    if (!child) child = std::make_unique<IniSection>();
    return *child;
}

std::string& IniSection::value(const std::string& key) { return values[key]; }

IniDocument::IniDocument(std::istream& in) : input(in) {
    while (std::getline(input, line)) {
        ++lineNumber;
        parseLine();
    }
}

void IniDocument::parseLine() {
    const auto fail = [this](const char* phrase) {
        throw std::runtime_error(std::string(phrase) + " on line #" + std::to_string(lineNumber));
    };

    // Only a comment sign in the very first byte counts; after blanks it is ordinary text.
    if (!line.empty() && (line[0] == '#' || line[0] == ';')) return;
    const std::string_view text = trimmed(line);
    if (text.empty()) return;

    if (text[0] == '[') {
        size_t depth = text.find_first_not_of('[');
        if (depth == std::string_view::npos) depth = text.size();
        // The name is cut by position: as many bytes are dropped at the end as there are brackets
        // at the start, whatever those bytes are. A header shorter than its brackets ("[", "[[x")
        // has an empty name instead of reading past the line.
        std::string name;
        if (text.size() >= 2 * depth) name = std::string(text.substr(depth, text.size() - 2 * depth));

        const int32_t k = static_cast<int32_t>(depth);
        if (k > current->depth + 1) fail("section with wrong depth");
        IniSection* parent = current;
        if (k != current->depth + 1) {
            for (int32_t up = current->depth - k + 1; up > 0; --up) parent = parent->parent;
        }
        IniSection& child = parent->section(name);
        if (child.depth != 0) fail("duplicate section name on the same level");
        child.depth = k;
        child.parent = parent;
        parent->sectionOrder.push_back(&child);
        current = &child;
        return;
    }

    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) fail("no '=' found");
    std::string_view value = trimmed(text.substr(equals + 1));
    // '#' is looked for before ';'; the value is not trimmed again after the cut, so blanks before
    // an inline comment stay part of it.
    size_t cut = value.find('#');
    if (cut == std::string_view::npos) cut = value.find(';');
    if (cut != std::string_view::npos) value = value.substr(0, cut);
    const std::string key(trimmed(text.substr(0, equals)));

    const auto [slot, inserted] = current->values.emplace(key, std::string(value));
    if (!inserted) fail("duplicated key found");
    current->keyOrder.push_back(&slot->first);
}
