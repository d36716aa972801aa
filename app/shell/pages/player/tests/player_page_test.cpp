// The player page on its own, through the test stand-in of the main window: listing the
// output folder, adding, dropping and deleting files, and playback of real files through the
// media file grabber and the private sound server.

#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <cstdio>

#include "app/shell/messages.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/player_page.h"
#include "app/shell/pages/player/tests/page_test_util.h"
#include "app/shell/string_table.h"

namespace quil::shell::test {
namespace {

namespace fs = std::filesystem;

class PlayerPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        folder = quil::test::MakeTempDir("player");
        SetOutputFolder(folder);
    }
    std::unique_ptr<PlayerPage> MakePage() {
        auto page = std::make_unique<PlayerPage>(host);
        page->resize(663, 404);
        return page;
    }
    QStringList Texts() { return host.testServices.messages.Texts(); }

    fs::path folder;
    TestPageHost host;
};

TEST_F(PlayerPageTest, ListsOnlyTheExactCaseExtensionsOfTheOutputFolder) {
    for (const char* name : {"a.wma", "b.WMA", "c.Wma", "d.ogg", "e.MP3", "f.txt", "g.wav"})
        WriteBytes(folder / name, 10);
    fs::create_directory(folder / "h.wav");
    auto page = MakePage();
    EXPECT_EQ(Column(page->model(), 1), QStringList({"a.wma", "b.WMA", "d.ogg", "e.MP3", "g.wav"}));
    EXPECT_EQ(Column(page->model(), 0), QStringList({"wma", "WMA", "ogg", "MP3", "wav"}));
    EXPECT_EQ(Column(page->model(), 2), QStringList(5, "Stop"));
    EXPECT_EQ(page->view()->SelectedRows(), QList<int>{0});

    // A file grabbed meanwhile shows when the page is selected again; nothing is listed twice.
    WriteBytes(folder / "new.ogg", 10);
    page->Refresh();
    EXPECT_EQ(page->model()->rowCount(), 6);
    EXPECT_TRUE(page->model()->Contains((folder / "new.ogg").string()));
    EXPECT_TRUE(Texts().isEmpty());

    page->GotoFolder();
    ASSERT_EQ(host.testServices.desktop.opened.size(), 1u);
    EXPECT_EQ(host.testServices.desktop.opened[0].toLocalFile().toStdString(),
              folder.string() + "/");
}

TEST_F(PlayerPageTest, ColumnsHeadersWidthsSizesAndTooltips) {
    WriteBytes(folder / "small.wav", 1023);
    WriteBytes(folder / "one.wav", 1024);
    WriteBytes(folder / "almost.wav", 2047);
    auto page = MakePage();
    page->show();
    const FileListModel* model = page->model();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"Format", "File Name", "Status", "Size"}));
    EXPECT_EQ(page->view()->columnWidth(0), 80);
    EXPECT_EQ(page->view()->columnWidth(1), 260);
    EXPECT_EQ(page->view()->columnWidth(2), 180);
    EXPECT_EQ(page->view()->columnWidth(3),
              page->view()->width() - page->view()->verticalScrollBar()->sizeHint().width() - 520);
    EXPECT_EQ(Column(model, 3), QStringList({"1 kbs", "1 kbs", "1023 bs"}));
    EXPECT_EQ(model->data(model->index(2, 2), Qt::ToolTipRole).toString().toStdString(),
              (folder / "small.wav").string());
    EXPECT_EQ(model->data(model->index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);

    QStringList tips;
    for (auto* button : page->findChildren<QToolButton*>())
        if (!button->isHidden()) tips << button->toolTip();
    EXPECT_EQ(tips, QStringList({"Add media files into list", "Delete file from list",
                                 "Delete all files in list", "Open the output file folder"}));
}

TEST_F(PlayerPageTest, AddedAndDroppedFilesSkipListedOnesWithAWarning) {
    WriteBytes(folder / "listed.mp3", 5);
    fs::path other = quil::test::MakeTempDir("elsewhere");
    WriteBytes(other / "one.avi", 5);
    WriteBytes(other / "two", 5);
    WriteBytes(other / "three.", 5);
    auto page = MakePage();
    auto& dialogs = host.testServices.files;
    dialogs.files = {QString::fromStdString((other / "one.avi").string()),
                     QString::fromStdString((folder / "listed.mp3").string()),
                     QString::fromStdString((other / "two").string())};
    auto* add = page->findChild<QToolButton*>();
    ASSERT_NE(add, nullptr);
    add->click();
    EXPECT_EQ(dialogs.lastFilter, QtFileFilter(LoadString(138)));
    EXPECT_TRUE(dialogs.lastFilter.contains(";;Audio file (*.wav *mp3 *.wma);;"))
        << Str(dialogs.lastFilter);
    EXPECT_EQ(Column(page->model(), 1), QStringList({"listed.mp3", "one.avi", "two"}));
    EXPECT_EQ(Column(page->model(), 0), QStringList({"mp3", "avi", ""}));
    ASSERT_EQ(Texts(), QStringList{"The media file you selected is already in th list."});
    EXPECT_EQ(host.testServices.messages.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(page->view()->SelectedRows(), QList<int>{0});

    // Dropped from a file manager: the same rule, folders left out.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString((other / "three.").string())),
                  QUrl::fromLocalFile(QString::fromStdString((other / "one.avi").string())),
                  QUrl::fromLocalFile(QString::fromStdString(other.string()))});
    page->show();
    QWidget* target = page->view()->viewport();
    QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    ASSERT_TRUE(WaitFor([&] { return page->model()->rowCount() == 4; }));
    EXPECT_EQ(Cell(page->model(), 3, 1), "three.");
    EXPECT_EQ(Cell(page->model(), 3, 0), "");
    EXPECT_EQ(Texts().size(), 2);
}

TEST_F(PlayerPageTest, DeletingTheLastRowSelectsTheFirst) {
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) WriteBytes(folder / name, 5);
    auto page = MakePage();
    page->view()->SelectRow(2);
    page->DeleteFile();
    EXPECT_EQ(Column(page->model(), 1), QStringList({"a.wav", "b.wav"}));
    EXPECT_EQ(page->view()->SelectedRows(), QList<int>{0});
    page->view()->SelectRow(0);
    page->DeleteFile();
    EXPECT_EQ(Column(page->model(), 1), QStringList({"b.wav"}));
    EXPECT_EQ(page->view()->SelectedRows(), QList<int>{0});
    page->DeleteAll();
    EXPECT_EQ(page->model()->rowCount(), 0);
    page->DeleteFile();  // nothing selected: nothing happens
    EXPECT_EQ(page->Play(), 0);
}

TEST_F(PlayerPageTest, TenThousandRowsStayResponsive) {
    fs::path many = quil::test::MakeTempDir("many");
    QStringList paths;
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "clip%05d.ogg", i);
        WriteBytes(many / name, static_cast<size_t>(i % 3000));
        paths << QString::fromStdString((many / name).string());
    }
    auto page = MakePage();
    page->show();
    auto start = std::chrono::steady_clock::now();
    page->AddFiles(paths);
    page->AddFiles(paths.mid(9990));  // ten duplicates, each answered once
    QApplication::processEvents();
    page->view()->scrollToBottom();
    QImage shown = page->grab().toImage();
    auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("10000 rows added, 10 duplicates refused and scrolled in %.2f s\n", took);
    EXPECT_EQ(page->model()->rowCount(), 10000);
    EXPECT_EQ(Texts().size(), 10);
    EXPECT_FALSE(shown.isNull());
    QRect last = page->view()->visualRect(page->model()->index(9999, 1));
    EXPECT_TRUE(page->view()->viewport()->rect().intersects(last));
    page->view()->SelectRow(5000);
    page->DeleteFile();
    EXPECT_EQ(page->model()->rowCount(), 9999);
    EXPECT_EQ(Cell(page->model(), 5000, 1), "clip05001.ogg");
}

// Playback through the real grabber needs the private sound server.
class PlayerPlaybackTest : public PlayerPageTest {
protected:
    void SetUp() override {
        if (!quil::test::HavePulse()) GTEST_SKIP() << "no private PulseAudio server";
        PlayerPageTest::SetUp();
        UsePrivateSink();
    }
};

TEST_F(PlayerPlaybackTest, TheListPlaysToItsEndAndTheWindowReturnsToIdle) {
    ASSERT_TRUE(MakeTone(folder / "a.wav", 1.0));
    ASSERT_TRUE(MakeTone(folder / "b.ogg", 1.0));
    ASSERT_TRUE(MakeTone(folder / "c.mp3", 1.0));
    auto page = MakePage();
    ASSERT_EQ(page->model()->rowCount(), 3);
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing 00:00:00 (00:00:01)");
    EXPECT_EQ(page->model()->Marked(), 0);
    EXPECT_EQ(page->view()->SelectedRows(), QList<int>{0});
    EXPECT_EQ(host.formatText, "44kHz 16Bits Stereo");
    EXPECT_EQ(host.pathText.toStdString(), (folder / "a.wav").string());

    ASSERT_TRUE(WaitFor([&] { return CountPosted(host, MSG_STOPPED_PLAYER) == 3; }, 60000));
    ASSERT_TRUE(WaitFor([&] { return page->playPath().empty(); }));
    EXPECT_EQ(CountPosted(host, MSG_STARTED), 3);
    EXPECT_EQ(host.posted.back().message, MSG_STOPPED_PLAYER);
    EXPECT_EQ(Column(page->model(), 2), QStringList(3, "Stop (00:00:01)"));
    EXPECT_EQ(page->model()->Marked(), -1);
    EXPECT_TRUE(host.formatText.isEmpty());
    EXPECT_TRUE(host.pathText.isEmpty());
    EXPECT_TRUE(Texts().isEmpty());
}

TEST_F(PlayerPlaybackTest, PauseAtThirtySecondsAndResumeShowsThePositionAtOnce) {
    ASSERT_TRUE(MakeTone(folder / "long.ogg", 180.0, 22050, 1));
    auto page = MakePage();
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing 00:00:00 (00:03:00)");
    PostMessage(page->Handle(), MSG_SEEK, 30, 0);
    PostMessage(page->Handle(), MSG_SEEK, 180, 0);  // the end itself is not a place to seek to
    QApplication::sendPostedEvents();
    ASSERT_EQ(page->PausePlayback(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Play Pause");
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing 00:00:30 (00:03:00)");
    ASSERT_TRUE(WaitFor([&] { return CountPosted(host, MSG_PROGRESS) > 0; }));
    const Message& progress = host.posted.back();
    EXPECT_EQ(progress.wParam, 180u);
    EXPECT_GE(progress.lParam, 30);
    EXPECT_LT(progress.lParam, 180);

    // The playing row stays; Delete all waits for the stop.
    page->view()->SelectRow(0);
    page->DeleteFile();
    page->DeleteAll();
    page->Refresh();
    EXPECT_EQ(page->model()->rowCount(), 1);
    EXPECT_EQ(page->model()->Marked(), 0);
    ASSERT_EQ(page->StopPlayback(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Stop (00:03:00)");
    EXPECT_EQ(page->StopPlayback(), 0);
    page->DeleteAll();
    EXPECT_EQ(page->model()->rowCount(), 0);
}

TEST_F(PlayerPlaybackTest, FilesThatCannotPlayFailAndNeighboursSayWhy) {
    ASSERT_TRUE(MakeTone(folder / "a.wav", 5.0));
    WriteBytes(folder / "b.wav", 3000);  // not a media file
    auto page = MakePage();
    page->view()->SelectRow(1);
    EXPECT_EQ(page->Play(), 0);
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_EQ(CountPosted(host, MSG_STARTED), 0);

    page->view()->SelectRow(0);
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(page->Previous(), 0);
    EXPECT_EQ(page->Next(), 0);
    EXPECT_EQ(Texts(), QStringList{"The file is failed to play."});
    EXPECT_TRUE(page->playPath().empty());
    EXPECT_EQ(Cell(page->model(), 0, 2), "Stop (00:00:05)");
    EXPECT_EQ(Cell(page->model(), 1, 2), "Stop");

    // Double-click on a row plays it.
    page->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
    page->view()->SelectRow(0);
    QRect cell = page->view()->visualRect(page->model()->index(0, 1));
    // A double-click as the window system delivers it.
    QWidget* viewport = page->view()->viewport();
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                      QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QPointF at(cell.center());
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
    EXPECT_EQ(Texts().size(), 1) << Str(Texts().join("|"));
    ASSERT_TRUE(WaitFor([&] { return !page->playPath().empty(); }));
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing 00:00:00 (00:00:05)");
    EXPECT_EQ(page->Next(), 0);
    EXPECT_EQ(Texts().size(), 2);
}

TEST_F(PlayerPlaybackTest, ScreenshotOfThePageWithAList) {
    ASSERT_TRUE(MakeTone(folder / "Quilmain12-00-01.mp3", 240.0, 22050, 1));
    ASSERT_TRUE(MakeTone(folder / "Quilmain12-05-44.ogg", 3.0));
    ASSERT_TRUE(MakeTone(folder / "Quilmain12-09-10.wav", 2.0, 8000, 1));
    WriteBytes(folder / "Quilmain12-20-00.WMA", 1023);
    auto page = MakePage();
    ASSERT_EQ(page->Play(), 1);
    PostMessage(page->Handle(), MSG_SEEK, 83, 0);
    ASSERT_TRUE(WaitFor([&] { return Cell(page->model(), 0, 2).startsWith("Playing 00:01:2"); }));
    page->view()->SelectRow(2);
    page->show();
    const char* chosen = std::getenv("QUIL_SCREENSHOT_DIR");
    fs::path shots = chosen && *chosen ? fs::path(chosen) : fs::path(QUIL_PAGES_SCREENSHOT_DIR);
    fs::create_directories(shots);
    EXPECT_TRUE(page->grab().save(QString::fromStdString((shots / "player_page.png").string())));
    EXPECT_EQ(page->StopPlayback(), 1);
}

}  // namespace
}  // namespace quil::shell::test
