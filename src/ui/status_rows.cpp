#include "ui/status_rows.h"

#include "config/branch_table.h"

namespace {

bool beginsEntry(const WString& line) {
    for (const Branch& branch : kBranches) {
        const WString prefix = WString(branch.displayName) + L" — ";
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<StatusRow> breakStatusRows(const WString& text, float width, float indent,
                                       const std::function<float(const WString&)>& measure) {
    std::vector<StatusRow> rows;
    size_t start = 0;
    for (bool first = true;; first = false) {
        const size_t end = text.find(L'\n', start);
        const WString line = text.substr(start, end == WString::npos ? WString::npos : end - start);
        const bool entry = !first && beginsEntry(line);
        StatusRow row{WString(), !first && !entry, false, entry};
        auto room = [&](const StatusRow& r) { return width - (r.indented ? indent : 0.0f); };
        if (measure(line) <= room(row)) {
            row.text = line;
        } else {
            size_t wordStart = 0;
            for (;;) {
                const size_t blank = line.find(L' ', wordStart);
                const WString word =
                    line.substr(wordStart, blank == WString::npos ? WString::npos : blank - wordStart);
                const WString longer = row.text.empty() ? word : row.text + L' ' + word;
                if (row.text.empty() || measure(longer) <= room(row)) {
                    row.text = longer;
                } else {
                    rows.push_back(row);
                    row = StatusRow{word, true, true, false};
                }
                if (blank == WString::npos) break;
                wordStart = blank + 1;
            }
        }
        rows.push_back(row);
        if (end == WString::npos) break;
        start = end + 1;
    }
    return rows;
}
