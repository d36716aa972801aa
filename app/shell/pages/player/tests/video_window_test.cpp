// The video window: frames from a streaming thread, zoom, full screen and back, dragging, and
// a real video played by the player page. Screenshots go to build/screenshots/pages/.

#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>

#include <set>
#include <thread>
#include <vector>

#include "app/shell/messages.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/player_page.h"
#include "app/shell/pages/player/tests/page_test_util.h"
#include "app/shell/pages/player/video_window.h"

namespace quil::shell::test {
namespace {

namespace fs = std::filesystem;

QRect Screen() {
    return QGuiApplication::primaryScreen()->geometry();
}

QStringList MenuEntries(QMenu* menu) {
    QStringList entries;
    for (QAction* action : menu->actions())
        entries << (action->isSeparator() ? "-"
                                          : action->text() + (action->isChecked() ? "*" : ""));
    return entries;
}

int DistinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

fs::path ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder) return folder;
    return QUIL_PAGES_SCREENSHOT_DIR;
}

void SendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QPointF global = widget->mapToGlobal(QPointF(local));
    QMouseEvent event(type, QPointF(local), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

class VideoWindowTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureApplication(); }
};

TEST_F(VideoWindowTest, ZoomFullScreenAndBackDragAndMenuChecks) {
    VideoWindow window(nullptr);  // no grabber: the default video size
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(320, 240));
    EXPECT_EQ(window.geometry().center(), Screen().center());
    EXPECT_EQ(window.minimumSize(), QSize(10, 10));
    window.ShowWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(MenuEntries(window.CreateMenu().get()),
              QStringList({"Full Screen", "-", "50%", "100%*"}));

    window.RunCommand(VideoWindow::kHalfCommand);
    EXPECT_EQ(window.size(), QSize(160, 120));
    EXPECT_EQ(window.geometry().center(), Screen().center());
    EXPECT_EQ(MenuEntries(window.CreateMenu().get()),
              QStringList({"Full Screen", "-", "50%*", "100%"}));

    // Dragging anywhere moves the window by the mouse's way.
    QPoint before = window.pos();
    SendMouse(&window, QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(&window, QEvent::MouseMove, {50, 40}, Qt::NoButton, Qt::LeftButton);
    SendMouse(&window, QEvent::MouseButtonRelease, {50, 40}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(window.pos(), before + QPoint(30, 20));
    QRect placed = window.geometry();

    window.RunCommand(VideoWindow::kFullScreenCommand);
    EXPECT_EQ(window.zoomState(), VideoWindow::kFullScreen);
    EXPECT_EQ(window.geometry(), Screen());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(MenuEntries(window.CreateMenu().get()),
              QStringList({"Full Screen*", "-", "50%", "100%"}));
    window.RunCommand(VideoWindow::kFullScreenCommand);
    EXPECT_EQ(window.zoomState(), VideoWindow::kHalfSize);
    EXPECT_EQ(window.geometry(), placed);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    window.RunCommand(VideoWindow::kDoubleCommand);
    EXPECT_EQ(window.size(), QSize(640, 480));
    window.HideWindow();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(VideoWindowTest, FramesFromAStreamingThreadArePaintedOnTheUiThread) {
    VideoWindow window(nullptr);
    window.ShowWindow();
    // A frame of four colour bands, 64 by 48, rows padded to a wider stride.
    const int width = 64, height = 48, stride = width * 4 + 16;
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &frame[static_cast<size_t>(y) * stride + x * 4];
            pixel[x / 16 % 3] = 255;  // B, G, R in turn
            pixel[3] = 255;
        }
    std::thread streaming([&] {
        for (int i = 0; i < 5; ++i) window.PresentFrame(frame.data(), width, height, stride, i);
    });
    streaming.join();
    ASSERT_TRUE(WaitFor([&] { return window.FramesShown() > 0; }));
    QImage shown = window.LastFrame();
    ASSERT_EQ(shown.size(), QSize(width, height));
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(20, 10), qRgb(0, 255, 0));
    EXPECT_EQ(shown.pixel(40, 47), qRgb(255, 0, 0));
    QImage painted = window.grab().toImage();
    EXPECT_GE(DistinctColours(painted), 3);
}

class VideoPlaybackTest : public VideoWindowTest {
protected:
    void SetUp() override {
        if (!quil::test::HavePulse()) GTEST_SKIP() << "no private PulseAudio server";
        VideoWindowTest::SetUp();
        UsePrivateSink();
        folder = quil::test::MakeTempDir("video");
        SetOutputFolder(folder);
    }
    fs::path folder;
    TestPageHost host;
};

TEST_F(VideoPlaybackTest, AVideoPlaysInItsWindowAndHalfSizeIsCentred) {
    fs::path video = quil::test::MakeTempDir("videos") / "bars.avi";
    ASSERT_TRUE(MakeVideo(video, 640, 480, 30.0, true));
    ASSERT_TRUE(MakeTone(folder / "song.ogg", 2.0));
    PlayerPage page(host);
    page.resize(663, 404);
    page.AddFiles({QString::fromStdString(video.string())});
    page.view()->SelectRow(1);
    ASSERT_EQ(Cell(page.model(), 1, 1), "bars.avi");
    ASSERT_EQ(page.Play(), 1);
    VideoWindow* window = page.videoWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->videoSize(), QSize(640, 480));
    EXPECT_EQ(window->size(), QSize(640, 480));
    EXPECT_EQ(window->geometry().center(), Screen().center());

    ASSERT_TRUE(WaitFor([&] { return window->FramesShown() >= 3; }));
    QImage frame = window->grab().toImage();
    EXPECT_GT(DistinctColours(frame), 8) << "the window shows no picture";

    window->RunCommand(VideoWindow::kHalfCommand);
    EXPECT_EQ(window->size(), QSize(320, 240));
    EXPECT_EQ(window->geometry().center(), Screen().center());
    int shown = window->FramesShown();
    ASSERT_TRUE(WaitFor([&] { return window->FramesShown() > shown + 2; }));
    EXPECT_GT(DistinctColours(window->grab().toImage()), 8);

    // Minimised to the tray and back.
    page.ShowVideo(false);
    EXPECT_FALSE(window->isVisible());
    page.ShowVideo(true);
    EXPECT_TRUE(window->isVisible());

    fs::create_directories(ScreenshotFolder());
    EXPECT_TRUE(window->grab().save(
        QString::fromStdString((ScreenshotFolder() / "video_window.png").string())));

    ASSERT_EQ(page.StopPlayback(), 1);
    EXPECT_EQ(page.videoWindow(), nullptr);
}

}  // namespace
}  // namespace quil::shell::test
