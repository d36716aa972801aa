// The background update check against an update server on 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/window/window.h"
#include "update/tests/update_fixture.h"
#include "update/update_check.h"

namespace quil::update::test {
namespace {

using namespace std::chrono_literals;
using quil::test::HttpReply;

constexpr UINT kRunUpdater = 6158;

class UpdateCheckTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ForgetProxies(); }

    void SetUp() override { installation_.Install("Quillet 3.0\nunused\n", key_.pair.publicKey); }

    void Serve(const std::string& info) {
        server_.Handle("/update/Quilpack/update.ini", HttpReply(200, info));
    }

    // Runs one check to its end; whether it found an update.
    bool CheckFindsUpdate() {
        EXPECT_TRUE(check_.Start(server_.Url(""), installation_.programFolder, window_.handle(),
                                 kRunUpdater));
        return WaitAndCollect();
    }

    bool WaitAndCollect() {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (check_.IsRunning() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_FALSE(check_.IsRunning());
        bool found = false;
        while (auto message = window_.Take(0ms)) {
            if (message->message == kRunUpdater) {
                EXPECT_EQ(message->window, window_.handle());
                EXPECT_FALSE(found) << "the finding is posted once";
                found = true;
            } else {
                EXPECT_EQ(message->message, kCheckStatusMessage);
            }
        }
        return found;
    }

    bool DownloadedCopyLeft() const {
        std::error_code ignored;
        fs::path folder = installation_.dataFolder / "Update";
        return fs::exists(folder / "Update.ini", ignored) ||
               fs::exists(folder / "Update.ini.part", ignored);
    }

    ReleaseKey key_;
    Installation installation_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    quil::test::HttpServer server_;
    QueueWindow window_;
    UpdateCheck check_{installation_.dataFolder};
};

TEST_F(UpdateCheckTest, SameFirstLineFindsNothing) {
    // Signed or not, the same release is no update; the second lines do not count.
    Serve(key_.SignFor("Quillet 3.0", "new installer"));
    EXPECT_FALSE(CheckFindsUpdate());
    Serve("Quillet 3.0\nsomething else\n");
    EXPECT_FALSE(CheckFindsUpdate());
    EXPECT_FALSE(DownloadedCopyLeft());
    EXPECT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(server_.Requests()[0].target, "/update/Quilpack/update.ini");
}

TEST_F(UpdateCheckTest, BothCopiesEmptyFindNothing) {
    installation_.Install("", key_.pair.publicKey);
    Serve("");
    EXPECT_FALSE(CheckFindsUpdate());
}

TEST_F(UpdateCheckTest, NewReleaseWithGoodSignatureIsPostedOnce) {
    Serve(key_.SignFor("Quillet 3.1", "new installer"));
    EXPECT_TRUE(CheckFindsUpdate());
    EXPECT_FALSE(DownloadedCopyLeft());
    // The next check asks again while the release differs.
    EXPECT_TRUE(CheckFindsUpdate());
}

TEST_F(UpdateCheckTest, BadOrMissingSignatureFindsNothingAndSaysWhy) {
    ReleaseKey stranger;
    std::string signedText = key_.SignFor("Quillet 3.1", "new installer");
    auto lines = SplitLines(signedText);
    struct Case {
        const char* name;
        std::string info;
        const char* reason;
    };
    const Case cases[] = {
        {"unsigned", "Quillet 3.1\n" + lines[1] + "\n", "not signed"},
        {"first line changed", "Quillet 3.2\n" + lines[1] + "\n" + lines[2] + "\n",
         "does not verify"},
        {"another key", stranger.SignFor("Quillet 3.1", "new installer"), "does not verify"},
        {"error page", "<html>moved</html>", "not signed"},
    };
    for (const auto& c : cases) {
        Serve(c.info);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(CheckFindsUpdate()) << c.name;
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.reason), std::string::npos) << c.name << ": " << said;
        EXPECT_FALSE(DownloadedCopyLeft()) << c.name;
    }

    // Without the public key nothing can be trusted.
    fs::remove(installation_.programFolder / "update.pub");
    Serve(signedText);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckFindsUpdate());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("update.pub"), std::string::npos);
}

TEST_F(UpdateCheckTest, ServerTroubleFindsNothing) {
    std::string signedText = key_.SignFor("Quillet 3.1", "new installer");
    server_.Handle("/update/Quilpack/update.ini", HttpReply(404, signedText));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CheckFindsUpdate());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("answered 404"), std::string::npos);

    // Larger than any update information: refused before it is written.
    server_.Handle("/update/Quilpack/update.ini",
                   HttpReply(200, signedText + std::string(64 * 1024, '#')));
    EXPECT_FALSE(CheckFindsUpdate());
    EXPECT_FALSE(DownloadedCopyLeft());

    server_.Handle("/update/Quilpack/update.ini", HttpReply(200, signedText, false));
    EXPECT_FALSE(CheckFindsUpdate());

    // No installed copy: no release to compare with.
    Serve(signedText);
    fs::remove(installation_.programFolder / "update.ini");
    EXPECT_FALSE(CheckFindsUpdate());
}

TEST_F(UpdateCheckTest, NoServerOrProgramFolderStartsNothing) {
    EXPECT_FALSE(check_.Start("", installation_.programFolder, window_.handle(), kRunUpdater));
    EXPECT_FALSE(check_.Start(server_.Url(""), "", window_.handle(), kRunUpdater));
    EXPECT_FALSE(check_.IsRunning());
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(UpdateCheckTest, CheckWhileThePreviousWaitsStartsNothingAndStopCancels) {
    server_.Handle("/update/Quilpack/update.ini",
                   [](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
                       connection.Stall();
                   });
    ASSERT_TRUE(
        check_.Start(server_.Url(""), installation_.programFolder, window_.handle(), kRunUpdater));
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (server_.Requests().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_FALSE(
        check_.Start(server_.Url(""), installation_.programFolder, window_.handle(), kRunUpdater));
    EXPECT_TRUE(check_.IsRunning());

    check_.Stop();
    EXPECT_FALSE(check_.IsRunning());
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_FALSE(WaitAndCollect());
    EXPECT_FALSE(DownloadedCopyLeft());

    // Once it has ended, the next check runs.
    Serve(key_.SignFor("Quillet 3.1", "new installer"));
    EXPECT_TRUE(CheckFindsUpdate());
}

}  // namespace
}  // namespace quil::update::test
