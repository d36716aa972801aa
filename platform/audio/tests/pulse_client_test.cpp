// The process's sound-server connection: kept between queries, and never the wrong server's.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/audio/pulse_client.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

using audio::PulseClient;

TEST(PulseClientShared, OneConnectionServesQueriesAndFollowsPulseServer) {
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)";
    const PulseClient* first = nullptr;
    {
        auto client = PulseClient::Shared();
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->Sources());
        first = client.get();
    }
    // Nobody holds it now, and it stays connected for the next query.
    const std::string ours = "application.process.id = \"" + std::to_string(getpid()) + "\"";
    EXPECT_NE(Pactl("list clients").find(ours), std::string::npos);
    auto again = PulseClient::Shared();
    ASSERT_TRUE(again);
    EXPECT_EQ(again.get(), first);
    EXPECT_TRUE(again->DefaultSinkName());

    // Another server named: the kept connection is not it.
    const char* was = std::getenv("PULSE_SERVER");
    const std::string saved = was ? was : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/quillet-test/native", 1);
    EXPECT_FALSE(PulseClient::Shared());
    if (was)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    auto back = PulseClient::Shared();
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->Sources());
    // The earlier connection is still held here, and is still connected.
    EXPECT_TRUE(again->Connected());
}

}  // namespace
}  // namespace quil::test
