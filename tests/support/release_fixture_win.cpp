#include "support/release_fixture_win.h"

#include <windows.h>

#include <atomic>

#include "support/test_env_win.h"

namespace {

constexpr int kBuildLimitMs = 120000;

}  // namespace

bool runReleaseBuilder(const std::vector<std::string>& arguments, std::string* log) {
    static std::atomic<int> counter{0};
    const std::string logPath = std::string(VARNHOLD_BINARY_DIR) + "/test-run/release_builder-" +
                                std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
                                ".log";
    std::string command = "/usr/bin/python3 " +
                          shellQuote(std::string(VARNHOLD_SOURCE_DIR) + "/tests/server/release_builder.py") +
                          " build --key " + shellQuote(VARNHOLD_TEST_PRIVATE_KEY);
    for (const std::string& argument : arguments) command += " " + shellQuote(argument);
    command += " >" + shellQuote(logPath) + " 2>&1";
    const bool built = runUnixShell(command, kBuildLimitMs) == 0;
    if (!built && log) *log = readFileBytes(winePathFromUnix(logPath)).value_or("(no output)");
    return built;
}

std::string testPublicKeyPath() {
    return std::string(VARNHOLD_BINARY_DIR) + "/keys/update_signing_public.pem";
}
