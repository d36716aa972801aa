// The media file page through the test stand-in of the main window: grabs of real files
// through the media file grabber, the list walk, status and duration texts, and playback.

#include <QToolButton>

#include <algorithm>

#include "app/settings/option_tables.h"
#include "app/shell/messages.h"
#include "app/shell/pages/media/media_page.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/media_texts.h"
#include "app/shell/pages/player/tests/page_test_util.h"
#include "app/shell/pages/player/video_window.h"

namespace quil::shell::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

QString P(const fs::path& path) {
    return QString::fromStdString(path.string());
}

class MediaPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        sources = quil::test::MakeTempDir("sources");
        output = quil::test::MakeTempDir("output");
        SetOutputFolder(output);
        page = std::make_unique<MediaPage>(host);
        page->resize(663, 375);
    }
    void TearDown() override { page.reset(); }
    QStringList Texts() { return host.testServices.messages.Texts(); }

    fs::path sources, output;
    TestPageHost host;
    std::unique_ptr<MediaPage> page;
};

TEST_F(MediaPageTest, TextsOfSizesFormatsAndDurations) {
    PCMWAVEFORMAT format{};
    format.nSamplesPerSec = 22050;
    format.nChannels = 1;
    format.wBitsPerSample = 16;
    EXPECT_EQ(FormatText(format), "22kHz 16Bits Mono");
    format.nSamplesPerSec = 8000;
    format.nChannels = 2;
    EXPECT_EQ(FormatText(format), " 8kHz 16Bits Stereo");
    format.nSamplesPerSec = 44100;
    EXPECT_EQ(FormatText(format), "44kHz 16Bits Stereo");
    EXPECT_EQ(SizeText(1023), "1023 bs");
    EXPECT_EQ(SizeText(1024), "1 kbs");
    EXPECT_EQ(SizeText(2047), "1 kbs");
    EXPECT_EQ(SizeText(5ull << 30), "5242880 kbs");  // above 4 GiB
    EXPECT_EQ(DurationText(75.9), "00:01:15");
    EXPECT_EQ(DurationText(-3), "00:00:00");
}

TEST_F(MediaPageTest, ColumnsAndRecordOnAnEmptyList) {
    page->show();
    const FileListModel* model = page->model();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, QStringList({"Format", "File Name", "Status", "Duration", "Size"}));
    for (auto [column, width] : {std::pair{0, 80}, {1, 250}, {2, 100}, {3, 120}})
        EXPECT_EQ(page->view()->columnWidth(column), width);
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_EQ(page->Play(), 0);
    EXPECT_EQ(page->StopGrab(), 0);
    EXPECT_FALSE(host.WasPosted(MSG_STARTED));

    WriteBytes(sources / "x.mpg", 1023);
    WriteBytes(sources / "y.WMV", 1024);
    page->AddFiles({P(sources / "x.mpg"), P(sources / "y.WMV"), P(sources / "x.mpg")});
    EXPECT_EQ(Column(model, 0), QStringList({"mpg", "WMV"}));
    EXPECT_EQ(Column(model, 2), QStringList({"Stop", "Stop"}));
    EXPECT_EQ(Column(model, 3), QStringList({"", ""}));
    EXPECT_EQ(Column(model, 4), QStringList({"1023 bs", "1 kbs"}));
    EXPECT_EQ(Texts(), QStringList{"The media file you selected is already in th list."});
}

TEST_F(MediaPageTest, ThreeRowsAreGrabbedInOrderAndTheWalkEndsAfterTheLast) {
    ASSERT_TRUE(MakeTone(sources / "one.wav", 1.0));
    ASSERT_TRUE(MakeTone(sources / "two.ogg", 2.0));
    ASSERT_TRUE(MakeTone(sources / "three.mp3", 3.0));
    page->AddFiles({P(sources / "one.wav"), P(sources / "two.ogg"), P(sources / "three.mp3")});
    std::vector<int> grabbedRows;
    QObject::connect(page->model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex&) {
                         if (Cell(page->model(), from.row(), 2) == "Grabbing" &&
                             (grabbedRows.empty() || grabbedRows.back() != from.row()))
                             grabbedRows.push_back(from.row());
                     });
    host.outputFormat = settings::kWav;
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Grabbing");
    EXPECT_EQ(Cell(page->model(), 0, 3), "00:00:00 (00:00:01)");
    EXPECT_EQ(page->model()->Marked(), 0);
    EXPECT_EQ(host.formatText, "44kHz 16Bits Stereo");
    EXPECT_TRUE(host.pathText.startsWith(P(output))) << Str(host.pathText);
    EXPECT_TRUE(host.pathText.endsWith(".wav"));

    ASSERT_TRUE(WaitFor([&] { return CountPosted(host, MSG_STOPPED_PLAYER) == 3; }, 60000));
    EXPECT_EQ(grabbedRows, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(CountPosted(host, MSG_STARTED), 3);
    EXPECT_EQ(host.posted.back().message, MSG_STOPPED_PLAYER);
    EXPECT_TRUE(page->grabPath().empty());
    EXPECT_EQ(Column(page->model(), 2), QStringList(3, "Stop"));
    EXPECT_EQ(Column(page->model(), 3), QStringList({"00:00:01", "00:00:02", "00:00:03"}));
    EXPECT_EQ(page->model()->Marked(), -1);
    EXPECT_TRUE(host.formatText.isEmpty());
    EXPECT_TRUE(host.pathText.isEmpty());

    // Output files in the order of the rows, each as long as its source.
    auto files = FilesIn(output);
    ASSERT_EQ(files.size(), 3u);
    std::vector<double> seconds;
    for (const auto& file : files) {
        quil::test::WavData wav;
        ASSERT_TRUE(quil::test::ReadWav(file, &wav)) << file;
        seconds.push_back(static_cast<double>(wav.data.size()) / (wav.rate * wav.channels * 2));
    }
    std::sort(seconds.begin(), seconds.end());
    EXPECT_NEAR(seconds[0], 1.0, 0.1);
    EXPECT_NEAR(seconds[1], 2.0, 0.1);
    EXPECT_NEAR(seconds[2], 3.0, 0.1);
    EXPECT_TRUE(Texts().isEmpty());
    // The page is in no active window: one notice for the whole list.
    EXPECT_EQ(host.testServices.notifier.notes,
              QStringList{"Media file list finished\n3 files grabbed."});
}

TEST_F(MediaPageTest, NoNoticeWhileTheWindowIsActive) {
    page->show();
    page->activateWindow();
    if (!WaitFor([&] { return page->isActiveWindow(); }, 3000))
        GTEST_SKIP() << "this platform activates no window";
    ASSERT_TRUE(MakeTone(sources / "one.wav", 1.0));
    page->AddFiles({P(sources / "one.wav")});
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return CountPosted(host, MSG_STOPPED_PLAYER) == 1; }, 60000));
    EXPECT_TRUE(host.testServices.notifier.notes.isEmpty());
}

TEST_F(MediaPageTest, SeventyFiveSecondsPauseDeleteAndFormatLine) {
    ASSERT_TRUE(MakeTone(sources / "long.wav", 75.0, 22050, 1));
    ASSERT_TRUE(MakeTone(sources / "other.wav", 1.0, 8000, 1));
    page->AddFiles({P(sources / "long.wav"), P(sources / "other.wav")});
    host.outputFormat = settings::kMp3;
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 3), "00:00:00 (00:01:15)");
    EXPECT_EQ(host.formatText, "22kHz 16Bits Mono");
    EXPECT_TRUE(host.pathText.endsWith(".mp3"));

    // The row being grabbed stays, and so does the list.
    page->view()->SelectRow(0);
    page->DeleteFile();
    page->DeleteAll();
    EXPECT_EQ(page->model()->rowCount(), 2);

    ASSERT_EQ(page->PauseGrab(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Grab Pause");
    EXPECT_EQ(page->Play(), 0);
    EXPECT_EQ(page->StopPlayback(), 0);
    EXPECT_EQ(page->grabPath(), (sources / "long.wav").string());
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Grabbing");
    ASSERT_TRUE(WaitFor([&] { return Cell(page->model(), 0, 2) == "Stop"; }, 60000));
    EXPECT_EQ(Cell(page->model(), 0, 3), "00:01:15");
    host.Collect();
    for (const Message& posted : host.posted)
        if (posted.message == MSG_PROGRESS) {
            EXPECT_EQ(posted.wParam, 75u);
            EXPECT_LE(posted.lParam, 75);
        }
    // The walk went on to the 8 kHz file, and ended there.
    ASSERT_TRUE(WaitFor([&] { return page->grabPath().empty(); }, 60000));
    EXPECT_EQ(Cell(page->model(), 1, 3), "00:00:01");
    EXPECT_EQ(FilesIn(output).size(), 2u);

    host.formatText.clear();
    page->view()->SelectRow(1);
    page->DeleteFile();
    page->DeleteFile();
    EXPECT_EQ(page->model()->rowCount(), 0);
}

TEST_F(MediaPageTest, AFileWithoutAudioIsRefusedWithItsMessage) {
    ASSERT_TRUE(MakeVideo(sources / "silent.avi", 160, 120, 1.0, false));
    page->AddFiles({P(sources / "silent.avi")});
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_EQ(Texts(), QStringList{"The Media file have no audio stream."});
    EXPECT_EQ(Cell(page->model(), 0, 2), "Stop");
    EXPECT_FALSE(host.WasPosted(MSG_STARTED));
    EXPECT_TRUE(page->grabPath().empty());
    // The output name it took is given back.
    EXPECT_TRUE(FilesIn(output).empty());
}

// A list may run with nobody at the screen: a file without audio asks nothing, counts as failed
// and the files after it are grabbed; the list's notice names it.
TEST_F(MediaPageTest, AFileWithoutAudioInAListCountsAsFailedAndTheListGoesOn) {
    ASSERT_TRUE(MakeVideo(sources / "silent.avi", 160, 120, 1.0, false));
    ASSERT_TRUE(MakeTone(sources / "one.wav", 1.0));
    ASSERT_TRUE(MakeVideo(sources / "mute.avi", 160, 120, 1.0, false));
    ASSERT_TRUE(MakeTone(sources / "three.ogg", 1.0));
    page->AddFiles({P(sources / "silent.avi"), P(sources / "one.wav")});
    // The first row has no audio: Record goes on to the next one.
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(page->grabPath(), (sources / "one.wav").string());
    // Rows added while the list runs are part of it.
    page->AddFiles({P(sources / "mute.avi"), P(sources / "three.ogg")});
    ASSERT_TRUE(WaitFor([&] { return page->grabPath().empty(); }, 60000));
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_EQ(FilesIn(output).size(), 2u);
    EXPECT_EQ(Cell(page->model(), 1, 3), "00:00:01");
    EXPECT_EQ(Cell(page->model(), 3, 3), "00:00:01");
    EXPECT_EQ(CountPosted(host, MSG_STARTED), 2);
    EXPECT_EQ(host.testServices.notifier.notes,
              QStringList{"Media file list finished\n2 files grabbed, 2 failed: silent.avi, "
                          "mute.avi."});
}

TEST_F(MediaPageTest, AListWithoutAnyAudioFailsQuietlyWithItsNotice) {
    ASSERT_TRUE(MakeVideo(sources / "silent.avi", 160, 120, 1.0, false));
    ASSERT_TRUE(MakeVideo(sources / "mute.avi", 160, 120, 1.0, false));
    page->AddFiles({P(sources / "silent.avi"), P(sources / "mute.avi")});
    // Nothing started: the main window says "Option failed!"; no box per file.
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_TRUE(page->grabPath().empty());
    EXPECT_FALSE(host.WasPosted(MSG_STARTED));
    EXPECT_TRUE(FilesIn(output).empty());
    EXPECT_EQ(host.testServices.notifier.notes,
              QStringList{"Media file list finished\n0 files grabbed, 2 failed: silent.avi, "
                          "mute.avi."});
}

TEST_F(MediaPageTest, AnOutputFolderThatCannotBeWrittenFailsTheGrab) {
    ASSERT_TRUE(MakeTone(sources / "one.wav", 1.0));
    page->AddFiles({P(sources / "one.wav")});
    SetOutputFolder(output / "missing" / "deeper");
    // The writer cannot create its file: the grab fails and the main window says so.
    EXPECT_EQ(page->StartGrab(), 0);
    EXPECT_TRUE(Texts().isEmpty());
    EXPECT_FALSE(host.WasPosted(MSG_STARTED));
    EXPECT_TRUE(page->grabPath().empty());
    EXPECT_EQ(Cell(page->model(), 0, 2), "Stop");
    SetOutputFolder(output);
    EXPECT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return page->grabPath().empty(); }));
    EXPECT_EQ(FilesIn(output).size(), 1u);
}

class MediaPlaybackTest : public MediaPageTest {
protected:
    void SetUp() override {
        if (!quil::test::HavePulse()) GTEST_SKIP() << "no private PulseAudio server";
        MediaPageTest::SetUp();
        UsePrivateSink();
    }
};

TEST_F(MediaPlaybackTest, PlayingAVideoFileOpensItsWindowAndDeleteAllWaits) {
    ASSERT_TRUE(MakeVideo(sources / "clip.avi", 320, 240, 20.0, true));
    page->AddFiles({P(sources / "clip.avi")});
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing");
    EXPECT_EQ(Cell(page->model(), 0, 3), "00:00:00 (00:00:20)");
    ASSERT_NE(page->videoWindow(), nullptr);
    EXPECT_EQ(page->videoWindow()->size(), QSize(320, 240));
    page->DeleteAll();
    page->DeleteFile();
    EXPECT_EQ(page->model()->rowCount(), 1);
    ASSERT_EQ(page->PausePlayback(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Play Pause");
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Playing");
    ASSERT_EQ(page->StopPlayback(), 1);
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_EQ(Cell(page->model(), 0, 2), "Stop");
    EXPECT_EQ(Cell(page->model(), 0, 3), "00:00:20");
    EXPECT_EQ(CountPosted(host, MSG_STOPPED_PLAYER), 1);
}

TEST_F(MediaPlaybackTest, ScreenshotOfThePageWithAList) {
    ASSERT_TRUE(MakeTone(sources / "interview.mp3", 75.0, 22050, 1));
    ASSERT_TRUE(MakeTone(sources / "concert.ogg", 3.0));
    WriteBytes(sources / "notes.wav", 1023);
    page->AddFiles(
        {P(sources / "interview.mp3"), P(sources / "concert.ogg"), P(sources / "notes.wav")});
    host.outputFormat = settings::kOgg;
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_EQ(page->PauseGrab(), 1);
    page->view()->SelectRow(1);
    page->show();
    fs::path folder = std::getenv("QUIL_SCREENSHOT_DIR")
                          ? fs::path(std::getenv("QUIL_SCREENSHOT_DIR"))
                          : fs::path(QUIL_PAGES_SCREENSHOT_DIR);
    fs::create_directories(folder);
    EXPECT_TRUE(page->grab().save(P(folder / "media_page.png")));
    ASSERT_EQ(page->StopGrab(), 1);
}

}  // namespace
}  // namespace quil::shell::test
