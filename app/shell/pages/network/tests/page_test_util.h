#pragma once

// The network stream page on a stand-in main window, under a QApplication (offscreen unless
// QT_QPA_PLATFORM names another platform, as xvfb-run screenshots do), and small ways to act on
// it as a user does.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "app/shell/pages/network/network_page.h"
#include "app/shell/pages/network/url_list_model.h"
#include "app/shell/pages/player/video_window.h"
#include "app/shell/testing/test_page_host.h"

class QComboBox;
class QImage;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace quil::network::test {

// The application, and playback to a null sink of this process's own, so no sound of these
// tests reaches what other tests record from the default sink.
void EnsureApplication();

class NetworkPageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh page, as after a restart of the program (the old one is destroyed first).
    void Recreate();

    QTreeView* List() const;
    QLineEdit* UrlEdit() const;
    QComboBox* Adapters() const;
    QPushButton* Button(const char* name) const;
    void Click(const char* name);

    // Types the URL into the edit and presses "Add URL".
    void AddByHand(const QString& url);
    void Select(const QString& url);
    QStringList ListedUrls() const;
    QString Status(const QString& url) const;
    bool Marked(const QString& url) const;
    bool WaitForStatus(const QString& url, const QString& status, int timeoutMs = 30000);
    QStringList Boxes() const { return host.testServices.messages.Texts(); }
    int CountPosted(UINT message);

    shell::testing::TestPageHost host;
    std::unique_ptr<NetworkPage> page;
    // Changes of the URL list made on another thread than the UI thread (checked in TearDown).
    std::shared_ptr<std::atomic<int>> offThreadChanges = std::make_shared<std::atomic<int>>(0);
};

// The longest time the UI thread went without turning its event loop, measured by a timer
// that ticks every 20 ms. On a loaded machine a thread also waits for a processor; that time
// (the kernel's run-queue delay of the thread) is not the window's doing and is left out of
// LongestGapMs, while LongestRawGapMs keeps it.
class TickGauge {
public:
    TickGauge();
    qint64 LongestGapMs() const;
    qint64 LongestRawGapMs() const { return longestRaw_; }

private:
    void Tick();

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 lastRunQueueMs_ = 0;
    qint64 longest_ = 0;
    qint64 longestRaw_ = 0;
};

// A 10-second tone as WMA with title "Night Grab" and author "Ada Corvane", made once.
std::filesystem::path TaggedWma();
// Ten seconds of 320 by 240 H.264 colour bars with a tone, in MPEG-TS (it plays as it arrives,
// no seeking needed), made once.
std::filesystem::path VideoStream();
// The video windows that exist, shown or not.
QList<shell::VideoWindow*> VideoWindows();
// Colours in a grid of the image's pixels: a picture has many, an empty window one.
int DistinctColours(const QImage& image);
// ffprobe's answer for the entries asked (for example "format=duration"), one value a line.
std::string Probe(const std::filesystem::path& file, const std::string& entries);
// Seconds as ffprobe reads the container; negative when it cannot.
double ProbedSeconds(const std::filesystem::path& file);
// Seconds of audio actually decoded by ffmpeg; negative on a decoding error.
double DecodedSeconds(const std::filesystem::path& file);

std::set<std::filesystem::path> FilesIn(const std::filesystem::path& folder);
std::filesystem::path OutputFolder();

}  // namespace quil::network::test
