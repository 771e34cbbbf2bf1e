#pragma once

#include <string>
#include <vector>

#include "base/run_log.h"
#include "support/test_env_win.h"

// The run log written to a folder of the test for the lifetime of the object, read back line by
// line, each with its time and thread.
class LogCapture {
public:
    explicit LogCapture(const WString& folder) : path(folder + L"\\launcher.log") {
        opened = openRunLog(folder);
    }
    ~LogCapture() { closeRunLog(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    [[nodiscard]] bool ready() const { return opened; }
    [[nodiscard]] std::vector<std::string> lines() const {
        const std::string log = readFileBytes(path).value_or("");
        std::vector<std::string> found;
        for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
            found.push_back(log.substr(start, end - start));
        }
        return found;
    }
    // The lines after the first `from` that hold `fragment`.
    [[nodiscard]] std::vector<std::string> linesWith(const std::string& fragment, size_t from = 0) const {
        std::vector<std::string> found;
        const std::vector<std::string> all = lines();
        for (size_t i = from; i < all.size(); ++i) {
            if (all[i].find(fragment) != std::string::npos) found.push_back(all[i]);
        }
        return found;
    }
    // How many lines there are so far: a mark for linesWith.
    [[nodiscard]] size_t mark() const { return lines().size(); }

private:
    WString path;
    bool opened = false;
};
