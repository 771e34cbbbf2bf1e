#pragma once

#include <string>
#include <vector>

#include "base/run_log.h"
#include "support/test_env_win.h"

// The run log, written to a folder of the test while the object lives, read back line by line.
class LogCapture {
public:
    explicit LogCapture(const WString& folder) : path(folder + L"\\launcher.log") {
        opened = openRunLog(folder);
    }
    ~LogCapture() { closeRunLog(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    [[nodiscard]] bool ready() const { return opened; }
    // How many lines there are so far: a mark for linesWith.
    [[nodiscard]] size_t mark() const { return linesWith("").size(); }
    // The lines after the first `from` that hold `fragment`.
    [[nodiscard]] std::vector<std::string> linesWith(const std::string& fragment, size_t from = 0) const {
        const std::string log = readFileBytes(path).value_or("");
        std::vector<std::string> found;
        size_t number = 0;
        for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
            const std::string line = log.substr(start, end - start);
            if (number++ >= from && line.find(fragment) != std::string::npos) found.push_back(line);
        }
        return found;
    }

private:
    WString path;
    bool opened = false;
};
