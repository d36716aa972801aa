// The updater's dialog on the offscreen platform (or under Xvfb for screenshots), downloading
// from an update server on 127.0.0.1.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/controls/skin.h"
#include "app/shell/testing/test_services.h"
#include "update/quilmend/updater_dialog.h"
#include "update/tests/update_fixture.h"

namespace quil::updater {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quil::test::HttpReply;
using quil::update::test::Installation;
using quil::update::test::ReleaseKey;
using quil::update::test::Slurp;

// Lives from the first test to the end of the run; destroying it among the statics would crash.
class QtEnvironment : public ::testing::Environment {
public:
    void Ensure() {
        if (app_) return;
        // Screenshots are taken under Xvfb when the caller asks for a platform.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        // The program's look, as Quilmend applies it, so screenshots are what users see.
        controls::ApplyProgramLook(*app_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "quilmend_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

QtEnvironment* Environment() {
    static auto* environment =
        static_cast<QtEnvironment*>(::testing::AddGlobalTestEnvironment(new QtEnvironment));
    return environment;
}

// A desktop without a web browser.
class NoBrowser final : public shell::Desktop {
public:
    bool Open(const QUrl&) override { return false; }
};

fs::path ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder) {
        return fs::path(folder) / "quilmend";
    }
    return QUIL_QUILMEND_SCREENSHOT_DIR;
}

const char kSucceeded[] = "Update succeeded, Please click Run button to install new version.";

class UpdaterDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite() { quil::update::test::ForgetProxies(); }

    void SetUp() override {
        Environment()->Ensure();
        installation_.Install("Quillet 3.0\n", key_.pair.publicKey);
    }

    void Publish(const std::string& installer, const std::string& signedFor) {
        server_.Handle("/update/Quilpack/update.ini",
                       HttpReply(200, key_.SignFor("Quillet 3.1", signedFor)));
        server_.Handle("/product/Quilpack/Quilpack.exe", HttpReply(200, installer));
    }

    UpdaterDialog& Open(std::string server = {}) {
        if (server.empty()) server = server_.Url("");
        dialog_ = std::make_unique<UpdaterDialog>(
            UpdaterPlaces{server, installation_.programFolder, installation_.dataFolder / "Update"},
            services_.Set());
        dialog_->show();
        return *dialog_;
    }

    bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds timeout = 30s) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QTest::qWait(5);
        }
        return true;
    }
    bool WaitForEnd() {
        return WaitFor([this] { return !dialog_->IsBusy(); });
    }

    QString Heading() { return dialog_->findChild<QLabel*>("heading")->text(); }
    QString ProgressText() { return dialog_->findChild<QLabel*>("progressText")->text(); }
    QProgressBar* Bar() { return dialog_->findChild<QProgressBar*>("progressBar"); }
    QPushButton* Cancel() { return dialog_->findChild<QPushButton*>("cancel"); }
    QPushButton* Manual() { return dialog_->findChild<QPushButton*>("downloadManually"); }
    QStringList Questions() const { return services_.messages.Texts(); }
    QStringList Started() const {
        QStringList programs;
        for (const auto& start : services_.launcher.started) {
            EXPECT_TRUE(start.arguments.isEmpty());
            programs << start.program;
        }
        return programs;
    }
    fs::path Target() const { return installation_.dataFolder / "Update" / "Quilpack.exe"; }
    fs::path Part() const { return fs::path(Target().string() + ".part"); }

    void Screenshot(const char* name) {
        fs::create_directories(ScreenshotFolder());
        QApplication::processEvents();
        EXPECT_TRUE(
            dialog_->grab().save(QString::fromStdString((ScreenshotFolder() / name).string())));
    }

    ReleaseKey key_;
    Installation installation_{testing::UnitTest::GetInstance()->current_test_info()->name()};
    quil::test::HttpServer server_;
    shell::testing::TestServices services_;
    std::unique_ptr<UpdaterDialog> dialog_;
};

TEST_F(UpdaterDialogTest, StartsConnectingWithEverythingInPlace) {
    server_.Handle("/update/Quilpack/update.ini",
                   [](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
                       connection.Stall();
                   });
    auto& dialog = Open();
    EXPECT_EQ(dialog.windowTitle(), "Quillet LiveUpdate");
    EXPECT_EQ(Heading(), "Quillet is downloading  the new version, Please wait......");
    EXPECT_EQ(ProgressText(), "Connect to Corvane...");
    EXPECT_TRUE(Bar()->isVisible());
    EXPECT_FALSE(Manual()->isVisible());
    EXPECT_EQ(Cancel()->text(), "Cancel");
    EXPECT_TRUE(dialog.IsBusy());
    ASSERT_EQ(dialog.actions().size(), 1);
    EXPECT_EQ(dialog.actions()[0]->text(), "&About Quilmend...");
    dialog.actions()[0]->trigger();
    ASSERT_EQ(services_.messages.shown.size(), 1u);
    EXPECT_EQ(services_.messages.shown[0].text, "Quilmend\nVersion 1.0");
}

TEST_F(UpdaterDialogTest, DownloadShowsProgressAndSpeedThenRunsTheVerifiedInstaller) {
    std::string installer = quil::test::PatternBytes(64 * 1024);
    server_.Handle("/update/Quilpack/update.ini",
                   HttpReply(200, key_.SignFor("Quillet 3.1", installer)));
    // Slow enough that progress comes after the first whole second.
    server_.Handle("/product/Quilpack/Quilpack.exe",
                   quil::test::HttpSlowBody(installer, 2048, 60ms));
    auto& dialog = Open();

    QRegularExpression format(
        R"(^Downloading:[ \d]{2}\d\.\dKB \(64\.0KB\)   Speed:[ \d]{2}\d\.\dKb/s$)");
    QStringList seen;
    ASSERT_TRUE(WaitFor([&] {
        if (seen.isEmpty() || seen.back() != ProgressText()) seen << ProgressText();
        return format.match(ProgressText()).hasMatch();
    })) << seen.join(" | ").toStdString();
    EXPECT_EQ(Bar()->maximum(), 64 * 1024);
    EXPECT_GT(Bar()->value(), 0);
    Screenshot("downloading.png");

    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Heading(), kSucceeded);
    EXPECT_EQ(ProgressText(), "");
    EXPECT_EQ(Cancel()->text(), "Run");
    EXPECT_EQ(Bar()->value(), 64 * 1024);
    EXPECT_FALSE(Manual()->isVisible());
    Screenshot("succeeded.png");

    EXPECT_EQ(Slurp(Target()), installer);
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_NE(fs::status(Target()).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(fs::exists(installation_.dataFolder / "Update" / "Quilmend.ini"));

    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_TRUE(Questions().isEmpty());
    ASSERT_EQ(Started().size(), 1);
    EXPECT_EQ(Started()[0].toStdString(), Target().string());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(UpdaterDialogTest, DownloadWithinOneSecondLeavesTheBarEmpty) {
    std::string installer = "#!/bin/sh\nexit 0\n";
    Publish(installer, installer);
    Open();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Heading(), kSucceeded);
    EXPECT_EQ(Bar()->value(), 0);
    EXPECT_EQ(Bar()->maximum(), 100);
    EXPECT_EQ(Cancel()->text(), "Run");
}

TEST_F(UpdaterDialogTest, InstallerThatDiffersFromTheSignedDigestIsRefused) {
    Publish("a tampered installer", "the published installer");
    auto& dialog = Open();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Heading(),
              "Update failed: The downloaded installer is not the published one (its SHA-256 "
              "differs)");
    EXPECT_EQ(ProgressText(), "");
    EXPECT_FALSE(Bar()->isVisible());
    EXPECT_TRUE(Manual()->isVisible());
    EXPECT_EQ(Cancel()->text(), "Cancel");
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_FALSE(fs::exists(Part()));
    Screenshot("failed.png");

    QTest::mouseClick(Manual(), Qt::LeftButton);
    ASSERT_EQ(services_.desktop.opened.size(), 1u);
    EXPECT_EQ(services_.desktop.opened[0].toString().toStdString(),
              server_.Url("/update/Quilpack/update.ini"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ProgressText(), "");
}

TEST_F(UpdaterDialogTest, DownloadManuallyWithoutABrowserShowsTheAddress) {
    Publish("a tampered installer", "the published installer");
    NoBrowser noBrowser;
    auto services = services_.Set();
    services.desktop = &noBrowser;
    dialog_ =
        std::make_unique<UpdaterDialog>(UpdaterPlaces{server_.Url(""), installation_.programFolder,
                                                      installation_.dataFolder / "Update"},
                                        services);
    dialog_->show();
    ASSERT_TRUE(WaitForEnd());
    QTest::mouseClick(Manual(), Qt::LeftButton);
    EXPECT_EQ(ProgressText().toStdString(), server_.Url("/update/Quilpack/update.ini"));
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(UpdaterDialogTest, CancelAfterAFailureClosesWithoutRunning) {
    Publish("a tampered installer", "the published installer");
    auto& dialog = Open();
    ASSERT_TRUE(WaitForEnd());
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_TRUE(Questions().isEmpty());
    EXPECT_TRUE(Started().isEmpty());
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(UpdaterDialogTest, InstallerChangedAfterTheDownloadIsNotRun) {
    std::string installer = "the published installer";
    Publish(installer, installer);
    auto& dialog = Open();
    ASSERT_TRUE(WaitForEnd());
    ASSERT_EQ(Cancel()->text(), "Run");
    quil::update::test::WriteFile(Target(), "replaced meanwhile");
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_TRUE(Started().isEmpty());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(Heading().startsWith("Update failed: The downloaded installer is not the "));
    EXPECT_EQ(Cancel()->text(), "Cancel");
    EXPECT_FALSE(fs::exists(Target()));
}

TEST_F(UpdaterDialogTest, UntrustedOrOversizedDownloadsFailWithAReason) {
    ReleaseKey stranger;
    std::string installer = "the published installer";
    struct Case {
        const char* name;
        std::function<void()> publish;
        const char* heading;
    };
    const Case cases[] = {
        {"another key",
         [&] {
             server_.Handle("/update/Quilpack/update.ini",
                            HttpReply(200, stranger.SignFor("Quillet 3.1", installer)));
         },
         "Update failed: The update information cannot be trusted: the signature of the "
         "update information does not verify"},
        {"unsigned",
         [&] { server_.Handle("/update/Quilpack/update.ini", HttpReply(200, "Quillet 3.1\n")); },
         "Update failed: The update information cannot be trusted: the update information is "
         "not signed"},
        {"information too large",
         [&] {
             server_.Handle("/update/Quilpack/update.ini",
                            HttpReply(200, std::string(64 * 1024 + 1, 'x')));
         },
         "Update failed: The file on the server is larger than the 65536 bytes expected (65537 "
         "bytes)"},
        {"installer larger than named", [&] { Publish(installer + "!", installer); },
         "Update failed: The file on the server is larger than the 23 bytes expected (24 "
         "bytes)"},
        {"missing installer",
         [&] {
             Publish(installer, installer);
             server_.Handle("/product/Quilpack/Quilpack.exe", HttpReply(404, "no such file"));
         },
         nullptr},
    };
    for (const auto& c : cases) {
        c.publish();
        Open();
        ASSERT_TRUE(WaitForEnd()) << c.name;
        if (c.heading) {
            EXPECT_EQ(Heading().toStdString(), c.heading) << c.name;
        } else {
            EXPECT_EQ(Heading().toStdString(), "Update failed: The server answered 404 for " +
                                                   server_.Url("/product/Quilpack/Quilpack.exe"))
                << c.name;
        }
        EXPECT_FALSE(fs::exists(Target())) << c.name;
        EXPECT_FALSE(fs::exists(Part())) << c.name;
        EXPECT_TRUE(Manual()->isVisible()) << c.name;
    }
}

TEST_F(UpdaterDialogTest, UnreachableServerOrNoServerFails) {
    Open("http://127.0.0.1:1");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(Heading().startsWith("Update failed: ")) << Heading().toStdString();
    EXPECT_NE(Heading(), "Update failed: ");

    dialog_.reset();
    dialog_ = std::make_unique<UpdaterDialog>(
        UpdaterPlaces{"", installation_.programFolder, installation_.dataFolder / "Update"},
        services_.Set());
    dialog_->show();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(Heading(), "Update failed: No update server is set");
    EXPECT_FALSE(Manual()->isVisible());
}

TEST_F(UpdaterDialogTest, QuitDuringTheDownloadAsksAndWithYesLeavesNoFiles) {
    std::string installer = quil::test::PatternBytes(256 * 1024);
    server_.Handle("/update/Quilpack/update.ini",
                   HttpReply(200, key_.SignFor("Quillet 3.1", installer)));
    server_.Handle("/product/Quilpack/Quilpack.exe",
                   quil::test::HttpStallMidBody(installer.size(), installer.substr(0, 50000)));
    auto& dialog = Open();
    ASSERT_TRUE(WaitFor([&] { return ProgressText().startsWith("Downloading:"); }));
    ASSERT_TRUE(fs::exists(Part()));

    services_.messages.answers = {QMessageBox::No, QMessageBox::Yes};
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    ASSERT_EQ(Questions().size(), 1);
    EXPECT_EQ(Questions()[0], "Update is not finished. Are you sure to quit?");
    const auto& question = services_.messages.shown[0];
    EXPECT_EQ(question.caption, "Quillet LiveUpdate");
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.IsBusy());

    dialog.close();
    EXPECT_EQ(Questions().size(), 2);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_FALSE(fs::exists(Part()));
    EXPECT_TRUE(Started().isEmpty());
    // What the worker posted before it ended reaches no one.
    QApplication::processEvents();
}

TEST_F(UpdaterDialogTest, RunThatCannotStartStillCloses) {
    std::string installer = "the published installer";
    Publish(installer, installer);
    services_.launcher.succeed = false;
    auto& dialog = Open();
    ASSERT_TRUE(WaitForEnd());
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    EXPECT_EQ(Started().size(), 1);
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace quil::updater
