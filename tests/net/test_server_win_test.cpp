#include "support/test_server_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "net/http_client_win.h"
#include "support/test_env_win.h"

namespace {

// The update tests run the server on the fixed ports of the compiled-in server addresses.
TEST(TestServer, ListensOnAFixedPortAndReportsOneThatIsTaken) {
    ScratchDir dir;
    uint16_t port = 0;
    {
        TestServer first(dir / L"first", TestServerOptions{{}, 1, 0, 0});
        ASSERT_TRUE(first.started()) << first.startFailure();
        port = first.httpsPort();
    }
    TestServer fixed(dir / L"fixed", TestServerOptions{{port}, 1, 0, 0});
    ASSERT_TRUE(fixed.started()) << fixed.startFailure();
    EXPECT_EQ(fixed.httpsPort(0), port);
    EXPECT_NE(fixed.httpsPort(1), 0);
    ASSERT_TRUE(fixed.publish("patch/latest.txt", "version=145\n"));
    std::string body;
    EXPECT_TRUE(fetchToMemory("https://localhost:" + std::to_string(port) + "/patch/latest.txt", body));
    EXPECT_EQ(fixed.requestCount("/patch/latest.txt", port), 1);

    TestServer clash(dir / L"clash", TestServerOptions{{port}, 0, 0, 0});
    EXPECT_FALSE(clash.started());
    EXPECT_NE(clash.startFailure().find("in use"), std::string::npos) << clash.startFailure();
    resetConnection();
}

}  // namespace
