#pragma once

#include <gtest/gtest.h>
#include <string>

#include "net/http_client_win.h"
#include "support/test_env_win.h"
#include "support/test_server_win.h"

// Short limits for the tests: a stall is anything over 300 ms, retries pause 100 ms and 300 ms.
// The receive time-out stays well above the stall limit, so that a stall test meets the stall
// limit and not the time-out.
inline HttpTimings shortHttpTimings() {
    HttpTimings timings;
    timings.stallLimitMs = 300;
    timings.retryPauseMs[0] = 100;
    timings.retryPauseMs[1] = 300;
    timings.receiveTimeoutMs = 5000;
    return timings;
}

// A fresh update server per test, and a thread connection that starts empty.
class HttpTest : public ::testing::Test {
protected:
    HttpTest() : server(dir / L"server") {
        setHttpTimingsForTests(shortHttpTimings());
        resetConnection();
    }
    ~HttpTest() override {
        resetConnection();
        setHttpTimingsForTests(HttpTimings{});
    }
    void SetUp() override { ASSERT_TRUE(server.started()) << server.startFailure(); }

    ScratchDir dir;
    TestServer server;
};

// Bytes that differ from position to position, so that a shifted or repeated block shows.
inline std::string patternBytes(size_t size, uint32_t seed = 1) {
    std::string bytes(size, '\0');
    uint32_t state = seed;
    for (char& c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}
