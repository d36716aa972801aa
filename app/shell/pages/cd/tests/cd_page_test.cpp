// The CD page on disc images made at test time, acting on its widgets offscreen: the drive list,
// disc kinds, track rows, ripping the checked rows, stopping, playing, seeking and the
// unreadable-sector report.

#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <time.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "app/settings/format_settings.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/cd/cd_page.h"
#include "app/shell/pages/cd/tests/page_test_app.h"
#include "app/shell/string_table.h"
#include "app/shell/testing/test_page_host.h"
#include "cdsource/tests/cd_test_util.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/registry/registry.h"

namespace quil::shell::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUnsupported[] = "Unsupport disk type, Please insert a audio CD/DVD disk";

// Processor time of the calling thread.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

class CdPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsurePageApplication();
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        settings::ApplyStartupDefaults();
        dir_ = quil::test::MakeTempDir("cdpage");
        output_ = dir_ / "out";
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(settings::value::kOutputDirectory, output_.string());
    }
    void TearDown() override { page_.reset(); }

    // Mounts the images and opens the page on the drive of image `select`.
    void Open(const std::vector<fs::path>& cues, int select = 0) {
        letters_ = quil::test::MountImages(cues);
        page_ = std::make_unique<CdPage>(host_);
        page_->resize(720, 360);
        ASSERT_TRUE(WaitFor([&] { return !page_->Busy(); }));
        if (select > 0) Choose(select);
    }
    void Choose(int entry) {
        auto* drives = page_->findChild<QComboBox*>("drives");
        drives->setCurrentIndex(entry);
        emit drives->activated(entry);
        ASSERT_TRUE(WaitFor([&] { return !page_->Busy(); }));
    }
    QComboBox* Drives() { return page_->findChild<QComboBox*>("drives"); }
    QString Cell(int row, int column) {
        return page_->Tracks().data(page_->Tracks().index(row, column), Qt::DisplayRole).toString();
    }
    QString Status(int row) { return Cell(row, TrackListModel::kStatus); }
    std::vector<fs::path> OutputFiles() {
        std::vector<fs::path> files;
        if (fs::exists(output_))
            for (const auto& entry : fs::directory_iterator(output_)) files.push_back(entry.path());
        return files;
    }
    // Runs the batch to its end, noting the output path of each rip in order.
    QStringList RipToEnd() {
        QStringList paths;
        EXPECT_TRUE(WaitFor(
            [&] {
                if (!host_.pathText.isEmpty() &&
                    (paths.isEmpty() || paths.last() != host_.pathText))
                    paths << host_.pathText;
                return page_->GrabRow() < 0 && host_.WasPosted(MSG_STOPPED);
            },
            60000));
        return paths;
    }

    TestPageHost host_;
    fs::path dir_, output_;
    std::vector<int> letters_;
    std::unique_ptr<CdPage> page_;
};

TEST_F(CdPageTest, ListsDrivesThatOpenInLetterOrderAndTellsDiscKinds) {
    auto audio = quil::test::WriteCdImage(dir_, "audio", {{true, 0, 75, 0}, {true, 0, 150, 0}});
    auto gone = quil::test::WriteCdImage(dir_, "gone", {{true, 0, 75, 0}});
    auto data = quil::test::WriteCdImage(dir_, "data", {{false, 0, 300, 0}});
    fs::remove(gone.bin);
    Open({audio.cue, gone.cue, data.cue});
    // The image that cannot be opened is left out; the one after it keeps its own letter.
    ASSERT_EQ(Drives()->count(), 2);
    EXPECT_EQ(Drives()->itemText(0), QString("%1:    audio.cue").arg(QChar(letters_[0])));
    EXPECT_EQ(Drives()->itemText(1), QString("%1:    data.cue").arg(QChar(letters_[2])));
    EXPECT_EQ(Drives()->itemData(1).toInt(), letters_[2] - 'A');
    EXPECT_EQ(page_->Tracks().rowCount(), 2);
    EXPECT_TRUE(page_->ListMessage().isEmpty());

    Choose(1);
    EXPECT_EQ(page_->Tracks().rowCount(), 0);
    EXPECT_EQ(page_->ListMessage(), kUnsupported);
    EXPECT_TRUE(page_->findChild<QLabel*>("listMessage")->isVisibleTo(page_.get()));

    // The image vanished since the scan: the drive cannot be opened any more.
    fs::remove(audio.bin);
    Choose(0);
    EXPECT_EQ(page_->ListMessage(), LoadString(147));
    EXPECT_EQ(page_->StartGrab(), 0);
}

TEST(BackgroundJobs, ResultsArriveByTicketOnceAndUntakenOnesAreDropped) {
    QueueWindow window;
    auto jobs = std::make_unique<BackgroundJobs>();
    int first = jobs->Run([] { return std::any(1); }, window.handle(), 0x8000);
    int second = jobs->Run([] { return std::any(std::string("two")); }, window.handle(), 0x8000);
    EXPECT_NE(first, second);
    std::set<WPARAM> tickets;
    for (int i = 0; i < 2; ++i) {
        auto message = window.Take(std::chrono::seconds(10));
        ASSERT_TRUE(message);
        EXPECT_EQ(message->message, 0x8000u);
        tickets.insert(message->wParam);
    }
    EXPECT_EQ(tickets, (std::set<WPARAM>{WPARAM(first), WPARAM(second)}));
    auto result = jobs->Take(second);
    ASSERT_TRUE(result);
    EXPECT_EQ(std::any_cast<std::string>(*result), "two");
    EXPECT_FALSE(jobs->Take(second));
    // A job whose window is gone, and a result never taken, end with the object.
    auto gone = std::make_unique<QueueWindow>();
    jobs->Run([] { return std::any(3); }, gone->handle(), 0x8000);
    gone.reset();
    jobs.reset();
}

TEST(CdPageDiscKinds, EachKindHasItsListMessage) {
    using sectorlink::DiscKind;
    EXPECT_EQ(DiscKindMessage(DiscKind::NoDisk), "No Disk");
    EXPECT_EQ(DiscKindMessage(DiscKind::AudioCd), "");
    EXPECT_EQ(DiscKindMessage(DiscKind::AudioDvd), "");
    EXPECT_EQ(DiscKindMessage(DiscKind::DataDvd),
              "  It's a DVD movie disk, Please insert a audio CD/DVD disk. if \nyou want to rip "
              "the audio from this disk, please select Ripper audio from DVD movie");
    for (DiscKind kind : {DiscKind::DataCd, DiscKind::MixedCd, DiscKind::MixedDvd})
        EXPECT_EQ(DiscKindMessage(kind), kUnsupported);
}

TEST_F(CdPageTest, AMixedModeDiscListsItsTracks) {
    // Audio wins over data, as the drive access classifies it.
    auto image = quil::test::WriteCdImage(dir_, "mixed", {{false, 0, 150, 0}, {true, 0, 75, 0}});
    Open({image.cue});
    EXPECT_TRUE(page_->ListMessage().isEmpty());
    EXPECT_EQ(page_->Tracks().rowCount(), 2);
}

TEST_F(CdPageTest, TracksStartCheckedAndTheHeaderTogglesAll) {
    auto image = quil::test::WriteCdImage(
        dir_, "disc", {{true, 0, 75 * 61, 0}, {true, 75, 150, 0}, {true, 0, 10, 0}});
    Open({image.cue});
    auto& tracks = page_->Tracks();
    ASSERT_EQ(tracks.rowCount(), 3);
    EXPECT_EQ(Cell(0, 0), "Track 1");
    EXPECT_EQ(Cell(0, 1), "00:01:02");  // with the next track's pregap
    EXPECT_EQ(Cell(0, 2), "Stop");
    EXPECT_EQ(Cell(0, 3), "0");
    // A pregap counts towards the track before it.
    EXPECT_EQ(Cell(0, 4), QString::number(75 * 61 + 75));
    EXPECT_EQ(Cell(1, 3), QString::number(75 * 61 + 75));
    EXPECT_EQ(Cell(2, 0), "Track 3");
    EXPECT_EQ(tracks.data(tracks.index(1, 1), Qt::ToolTipRole).toString(), Cell(1, 1));
    EXPECT_EQ(tracks.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Track#");
    EXPECT_EQ(tracks.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Start Sector");
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(tracks.data(tracks.index(row, 0), Qt::CheckStateRole), Qt::Checked);
    EXPECT_TRUE(tracks.AllChecked());

    // The header's box shows whether every row is checked, drawn sharp at twice the pixels.
    auto headerBox = [&] {
        return tracks.headerData(0, Qt::Horizontal, Qt::DecorationRole)
            .value<QIcon>()
            .pixmap(QSize(16, 16), 2.0)
            .toImage();
    };
    const QImage allChecked = headerBox();
    EXPECT_EQ(allChecked.size(), QSize(32, 32));
    auto* header = page_->findChild<QTreeView*>("tracks")->header();
    emit header->sectionClicked(0);
    for (int row = 0; row < 3; ++row) EXPECT_FALSE(tracks.Row(row).checked);
    EXPECT_NE(headerBox().pixelColor(16, 16), allChecked.pixelColor(16, 16));
    tracks.setData(tracks.index(1, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_FALSE(tracks.AllChecked());
    // Not every row is checked, so the header checks them all.
    emit header->sectionClicked(0);
    EXPECT_TRUE(tracks.AllChecked());
    emit header->sectionClicked(2);
    EXPECT_TRUE(tracks.AllChecked());
}

TEST_F(CdPageTest, RipsOnlyTheCheckedRowsTopToBottomIntoExactWavFiles) {
    auto image = quil::test::WriteCdImage(
        dir_, "disc", {{true, 0, 100, 0}, {true, 0, 120, 0}, {true, 0, 90, 0}, {true, 0, 50, 0}});
    Open({image.cue});
    auto& tracks = page_->Tracks();
    ASSERT_EQ(tracks.rowCount(), 4);
    tracks.setData(tracks.index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    tracks.setData(tracks.index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
    host_.outputFormat = 0;

    ASSERT_EQ(page_->StartGrab(), 1);
    EXPECT_TRUE(page_->DoorLocked());
    EXPECT_FALSE(Drives()->isEnabled());
    EXPECT_FALSE(page_->findChild<QPushButton*>("eject")->isEnabled());
    RipToEnd();

    EXPECT_EQ(Status(0), "Complete");
    EXPECT_EQ(Status(1), "Stop");
    EXPECT_EQ(Status(2), "Complete");
    EXPECT_EQ(Status(3), "Stop");
    EXPECT_FALSE(page_->DoorLocked());
    EXPECT_TRUE(Drives()->isEnabled());
    EXPECT_TRUE(host_.pathText.isEmpty());
    EXPECT_TRUE(host_.testServices.messages.shown.empty());
    // Every sector was read: the tooltip says so, and there is nothing to report.
    EXPECT_TRUE(
        tracks.data(tracks.index(0, 2), Qt::ToolTipRole).toString().contains("Every sector"));

    // Each file is exactly its track's PCM. Tracks 1 and 3 differ in length, so the larger file
    // is track 1 (write times can tie on a busy machine).
    auto files = OutputFiles();
    ASSERT_EQ(files.size(), 2u);
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return fs::file_size(a) > fs::file_size(b);
    });
    const uint32_t firsts[] = {0, 220};
    const uint32_t lengths[] = {100, 90};
    for (int i = 0; i < 2; ++i) {
        quil::test::WavData wav;
        ASSERT_TRUE(quil::test::ReadWav(files[i], &wav)) << files[i];
        EXPECT_TRUE(wav.data == quil::test::BinSectors(image, firsts[i], lengths[i])) << i;
    }
}

TEST_F(CdPageTest, LossyFormatsDecodeToTheTrackLength) {
    auto image = quil::test::WriteCdImage(dir_, "tone", {{true, 0, 150, 440}});
    Open({image.cue});
    for (int format : {1, 3}) {
        host_.outputFormat = format;
        host_.posted.clear();
        ASSERT_EQ(page_->StartGrab(), 1) << format;
        EXPECT_FALSE(host_.formatText.isEmpty());
        QStringList paths = RipToEnd();
        ASSERT_EQ(paths.size(), 1);
        EXPECT_EQ(Status(0), "Complete");
        std::string command = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                              paths[0].toStdString() + "'";
        std::string duration;
        ASSERT_EQ(quil::test::RunCommand(command, &duration), 0);
        EXPECT_NEAR(std::stod(duration), 2.0, 0.2) << format;
    }
}

TEST_F(CdPageTest, StoppingMidRipMarksTheRowStopAndUnlocksTheTray) {
    // Three minutes of MP3 take long enough to be stopped on the way.
    auto image =
        quil::test::WriteCdImage(dir_, "long", {{true, 0, 75 * 180, 440}, {true, 0, 75, 0}});
    Open({image.cue});
    host_.outputFormat = 1;
    ASSERT_EQ(page_->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return page_->Tracks().Row(0).progress > 0; }, 60000));
    EXPECT_TRUE(page_->DoorLocked());
    ASSERT_EQ(page_->StopGrab(), 1);
    EXPECT_EQ(Status(0), "Stop");
    EXPECT_EQ(page_->Tracks().Row(0).progress, -1);
    EXPECT_EQ(Status(1), "Stop");
    EXPECT_FALSE(page_->DoorLocked());
    EXPECT_TRUE(host_.WasPosted(MSG_STOPPED));
    EXPECT_TRUE(Drives()->isEnabled());
    EXPECT_TRUE(host_.formatText.isEmpty());
    // The user stopped it: nothing to tell the desktop.
    EXPECT_TRUE(host_.testServices.notifier.notes.isEmpty());
    // The next start rips from the top again.
    ASSERT_EQ(page_->StartGrab(), 1);
    EXPECT_EQ(page_->GrabRow(), 0);
    page_->StopGrab();
}

TEST_F(CdPageTest, PauseAndResumeARip) {
    auto image = quil::test::WriteCdImage(dir_, "long", {{true, 0, 75 * 120, 440}});
    Open({image.cue});
    host_.outputFormat = 1;
    ASSERT_EQ(page_->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return page_->Tracks().Row(0).progress > 0; }, 60000));
    ASSERT_EQ(page_->PauseGrab(), 1);
    EXPECT_EQ(Status(0), "Grab Pause");
    EXPECT_EQ(page_->Grabber()->GetState(), 2);
    ASSERT_EQ(page_->StartGrab(), 1);
    EXPECT_EQ(page_->GrabRow(), 0);
    QStringList paths = RipToEnd();
    EXPECT_EQ(Status(0), "Complete");
    EXPECT_EQ(OutputFiles().size(), 1u);
}

TEST_F(CdPageTest, UnreadableSectorsShowInTheTooltipAndAfterTheBatch) {
    auto image = quil::test::WriteCdImage(dir_, "damaged", {{true, 0, 52, 0}, {true, 0, 104, 0}});
    Open({image.cue});
    ASSERT_EQ(page_->Tracks().rowCount(), 2);
    fs::resize_file(image.bin, uint64_t{104} * quil::test::kCdSectorBytes);
    ASSERT_EQ(page_->StartGrab(), 1);
    RipToEnd();
    auto& tracks = page_->Tracks();
    EXPECT_EQ(Status(1), "Complete");
    EXPECT_EQ(tracks.Row(0).unreadableSectors, 0);
    // Reads that the image's end falls inside of still count as read.
    const int unreadable = tracks.Row(1).unreadableSectors;
    EXPECT_GT(unreadable, 0);
    EXPECT_LE(unreadable, 52);
    EXPECT_TRUE(tracks.data(tracks.index(1, 3), Qt::ToolTipRole)
                    .toString()
                    .contains(QString("%1 unreadable sectors").arg(unreadable)));
    auto texts = host_.testServices.messages.Texts();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(QString("Track 2: %1 sectors").arg(unreadable)));
    EXPECT_FALSE(texts[0].contains("Track 1"));
    // One notice for the batch, with its count and the damage.
    EXPECT_EQ(host_.testServices.notifier.notes,
              QStringList{QString("CD rip finished\n2 tracks ripped. Unreadable sectors, written "
                                  "as silence: track 2: %1 sectors.")
                              .arg(unreadable)});
}

TEST_F(CdPageTest, AnEmptyOutputPathRefusesTheRip) {
    auto image = quil::test::WriteCdImage(dir_, "disc", {{true, 0, 75, 0}});
    Open({image.cue});
    auto parent = registry::Key::Open(registry::Root::LocalMachine, "SOFTWARE\\Corvane");
    ASSERT_TRUE(parent);
    ASSERT_TRUE(parent->DeleteSubKey("Quillet"));
    EXPECT_EQ(page_->StartGrab(), 0);
    EXPECT_EQ(host_.testServices.messages.Texts(), QStringList{LoadString(130)});
    EXPECT_FALSE(page_->DoorLocked());
    EXPECT_EQ(Status(0), "Stop");
    EXPECT_TRUE(Drives()->isEnabled());
}

TEST_F(CdPageTest, PlaysWithPreviousNextSeekAndTheEndOfTheDisc) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "needs the private sound server";
    auto image = quil::test::WriteCdImage(
        dir_, "play", {{true, 0, 1000, 440}, {true, 0, 2000, 660}, {true, 0, 75, 0}});
    Open({image.cue});
    auto* list = page_->findChild<QTreeView*>("tracks");
    list->setCurrentIndex(page_->Tracks().index(1, 0));
    ASSERT_EQ(page_->Play(), 1);
    EXPECT_EQ(page_->PlayRow(), 1);
    EXPECT_EQ(Status(1), "Playing 00:00:00");
    EXPECT_TRUE(host_.WasPosted(MSG_STARTED));
    EXPECT_FALSE(Drives()->isEnabled());

    // 50 % of sectors 1000..3000.
    SendMessage(page_->Handle(), MSG_SEEK, 50, 0);
    int sector = 0;
    ASSERT_EQ(page_->Grabber()->GetCurrentSector(&sector), 1);
    EXPECT_GE(sector, 2000);
    EXPECT_LT(sector, 2000 + 150);
    ASSERT_TRUE(WaitFor([&] { return host_.WasPosted(MSG_PROGRESS); }, 10000));

    ASSERT_EQ(page_->PausePlayback(), 1);
    EXPECT_EQ(Status(1), "Play Pause");
    ASSERT_EQ(page_->Play(), 1);
    EXPECT_EQ(page_->Grabber()->GetState(), 1);

    ASSERT_EQ(page_->Previous(), 1);
    EXPECT_EQ(page_->PlayRow(), 0);
    EXPECT_EQ(Status(1), "Stop");
    EXPECT_EQ(Status(0), "Playing 00:00:00");
    EXPECT_EQ(page_->Tracks().Highlighted(), 0);
    EXPECT_EQ(page_->Previous(), 0);
    ASSERT_EQ(page_->Next(), 1);
    ASSERT_EQ(page_->Next(), 1);
    EXPECT_EQ(page_->PlayRow(), 2);
    EXPECT_EQ(page_->Next(), 0);
    // The last track (one second) plays to its end, and the playback ends with it.
    ASSERT_TRUE(WaitFor([&] { return page_->PlayRow() < 0; }, 20000));
    EXPECT_EQ(Status(2), "Stop");
    EXPECT_TRUE(host_.WasPosted(MSG_STOPPED_PLAYER));
    EXPECT_EQ(page_->Tracks().Highlighted(), -1);
    EXPECT_TRUE(Drives()->isEnabled());
    EXPECT_TRUE(host_.testServices.messages.shown.empty());
}

TEST_F(CdPageTest, EjectOpensThenClosesAndRescansEachTime) {
    auto image = quil::test::WriteCdImage(dir_, "disc", {{true, 0, 75, 0}, {true, 0, 75, 0}});
    Open({image.cue});
    auto* eject = page_->findChild<QPushButton*>("eject");
    for (int press = 0; press < 2; ++press) {
        QTest::mouseClick(eject, Qt::LeftButton);
        EXPECT_TRUE(page_->Busy());
        ASSERT_TRUE(WaitFor([&] { return !page_->Busy(); }));
        EXPECT_EQ(page_->Tracks().rowCount(), 2);
    }
    QTest::mouseClick(page_->findChild<QPushButton*>("rescan"), Qt::LeftButton);
    EXPECT_EQ(page_->Tracks().rowCount(), 0);
    ASSERT_TRUE(WaitFor([&] { return !page_->Busy(); }));
    EXPECT_EQ(page_->Tracks().rowCount(), 2);
}

TEST_F(CdPageTest, WithoutTheCdSourceTheGrabberFailsWithItsMessage) {
    ASSERT_EQ(quil::test::CallTrackpump("DllUnregisterServer"), S_OK);
    auto image = quil::test::WriteCdImage(dir_, "disc", {{true, 0, 75, 0}});
    Open({image.cue});
    EXPECT_FALSE(page_->HasGrabber());
    EXPECT_EQ(host_.testServices.messages.Texts(), QStringList{LoadString(199)});
    EXPECT_EQ(Drives()->count(), 0);
    EXPECT_FALSE(Drives()->isEnabled());
    EXPECT_EQ(page_->Play(), 0);
    EXPECT_EQ(page_->StopGrab(), 0);
    EXPECT_EQ(page_->StopPlayback(), 0);
}

// Not a speed assertion: prints how long the window went without handling events while the
// page scanned the drives and checked the disc of an image.
TEST_F(CdPageTest, DriveScanAndDiscCheckLeaveTheWindowResponsive) {
    // Four drives with a disc image each: the scan probes all, the check and the track list
    // follow for the first, then for each of the others as the user picks it.
    std::vector<fs::path> cues;
    for (int i = 0; i < 4; ++i)
        cues.push_back(quil::test::WriteCdImage(dir_, "disc" + std::to_string(i),
                                                {{true, 0, 75 * 60, 0}, {true, 0, 75 * 60, 0}})
                           .cue);
    letters_ = quil::test::MountImages(cues);
    // Wall-clock gaps between two turns of the event loop include the time a loaded machine
    // gives other processes; the processor time the window's thread spent between two turns is
    // the page's own share.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    double lastBusy = ThreadCpuMs(), longestBusy = 0;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
        longestBusy = std::max(longestBusy, ThreadCpuMs() - lastBusy);
        lastBusy = ThreadCpuMs();
    });
    ticker.start();
    clock.start();
    page_ = std::make_unique<CdPage>(host_);
    longest = std::max(longest, clock.elapsed());
    longestBusy = std::max(longestBusy, ThreadCpuMs() - lastBusy);
    last = clock.elapsed();
    lastBusy = ThreadCpuMs();
    ASSERT_TRUE(WaitFor([&] { return !page_->Busy() && page_->Tracks().rowCount() == 2; }));
    const qint64 toTracks = clock.elapsed();
    ASSERT_EQ(Drives()->count(), 4);
    for (int entry = 1; entry < 4; ++entry) {
        last = clock.elapsed();
        lastBusy = ThreadCpuMs();
        Choose(entry);
        ASSERT_EQ(page_->Tracks().rowCount(), 2);
    }
    std::printf(
        "cd page, 4 drives with disc images: longest work of the window's thread between "
        "two event-loop turns %.1f ms (wall clock, with the machine's load: %lld ms), "
        "start to first track list %lld ms\n",
        longestBusy, static_cast<long long>(longest), static_cast<long long>(toTracks));
    RecordProperty("longest_busy_ms", static_cast<int>(longestBusy));
    RecordProperty("longest_stall_ms", static_cast<int>(longest));
    RecordProperty("start_to_tracks_ms", static_cast<int>(toTracks));
}

TEST_F(CdPageTest, Screenshots) {
    auto image = quil::test::WriteCdImage(dir_, "Concert",
                                          {{true, 0, 75 * 200, 440},
                                           {true, 0, 75 * 215, 0},
                                           {true, 0, 75 * 187, 0},
                                           {true, 0, 75 * 242, 0},
                                           {true, 0, 75 * 98, 0}});
    Open({image.cue});
    page_->show();
    page_->Tracks().setData(page_->Tracks().index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
    ASSERT_TRUE(SaveScreenshot(page_.get(), "cd-tracks"));
    host_.outputFormat = 1;
    ASSERT_EQ(page_->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return page_->Tracks().Row(0).progress >= 5; }, 60000));
    ASSERT_TRUE(SaveScreenshot(page_.get(), "cd-ripping"));
    page_->StopGrab();
}

}  // namespace
}  // namespace quil::shell::testing
