// The live page recording from the private sound server (a null sink's monitor playing a tone),
// acting on its widgets offscreen: rows and their texts, pause and resume in the same file, the
// event rules, playback of listed recordings, the saved device and line, levels and mute.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "app/controls/bitmap_slider.h"
#include "app/settings/format_settings.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/cd/tests/page_test_app.h"
#include "app/shell/pages/live/level_meter.h"
#include "app/shell/pages/live/live_page.h"
#include "app/shell/string_table.h"
#include "app/shell/testing/test_page_host.h"
#include "engine/cd/cd_audio_grabber.h"
#include "engine/live/live_audio_grabber.h"
#include "platform/registry/registry.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::shell::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kTone = 440;

// How much of the recording's power lies at `frequency`, as the median over short blocks (1 for
// a clean tone). Blocks, because a loaded machine drops a few milliseconds of the tone now and
// then, which upsets a count of zero crossings over the whole file.
double ToneShare(const quil::test::DecodedAudio& audio, double frequency) {
    constexpr size_t kBlock = 2048;
    std::vector<double> shares;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / audio.rate);
    for (size_t start = 0; start + kBlock <= audio.samples.size(); start += kBlock) {
        double s1 = 0, s2 = 0, energy = 0;
        for (size_t i = start; i < start + kBlock; ++i) {
            double x = audio.samples[i] / 32768.0;
            double s0 = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
            energy += x * x;
        }
        double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        if (energy > 0) shares.push_back(2 * power / kBlock / energy);
    }
    if (shares.empty()) return 0;
    std::sort(shares.begin(), shares.end());
    return shares[shares.size() / 2];
}

std::string Str(const QString& text) {
    return text.toStdString();
}

void DeleteSettingsKey() {
    auto parent = registry::Key::Open(registry::Root::LocalMachine, "SOFTWARE\\Corvane");
    ASSERT_TRUE(parent);
    ASSERT_TRUE(parent->DeleteSubKey("Quillet"));
}

#define NEED_PULSE()              \
    if (!quil::test::HavePulse()) \
    GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)"

class LivePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsurePageApplication();
        NEED_PULSE();
        settings::ApplyStartupDefaults();
        output_ = quil::test::MakeTempDir("live") / "out";
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(settings::value::kOutputDirectory, output_.string());
    }
    void TearDown() override { page_.reset(); }

    void SaveChoice(const std::string& device, const std::string& line = {}) {
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(LivePage::kDeviceValue, device);
        key.WriteString(LivePage::kLineValue, line);
    }
    // A sink with a tone, and the page opened on its monitor.
    void OpenOnTone(const std::string& tag = "live") {
        sink_ = std::make_unique<quil::test::NullSink>(tag);
        tone_ = std::make_unique<quil::test::TonePlayer>(sink_->name(), kTone);
        ASSERT_TRUE(tone_->WaitAudible());
        SaveChoice(sink_->monitorDescription());
        Open();
        ASSERT_EQ(Devices()->currentText().toStdString(), sink_->monitorDescription());
    }
    void Open() {
        page_ = std::make_unique<LivePage>(host_);
        page_->resize(820, 360);
    }
    QComboBox* Devices() { return page_->findChild<QComboBox*>("devices"); }
    QComboBox* Lines() { return page_->findChild<QComboBox*>("lines"); }
    controls::BitmapSlider* Slider() { return page_->findChild<controls::BitmapSlider*>("level"); }
    QCheckBox* Mute() { return page_->findChild<QCheckBox*>("mute"); }
    QTreeView* List() { return page_->findChild<QTreeView*>("recordings"); }
    const RecordingRow& Row(int row) { return page_->Recordings().Row(row); }
    void Select(int row) { List()->setCurrentIndex(page_->Recordings().index(row, 0)); }
    // Records for `seconds` of the page's own count, then stops.
    QString Record(int seconds) {
        EXPECT_EQ(page_->StartGrab(), 1);
        QString path = page_->RecordingPath();
        int row = page_->Recordings().Find(path);
        if (row < 0) return {};
        EXPECT_TRUE(WaitFor([&] {
            return Row(row).duration == QString::fromStdString(settings::FormatDuration(seconds));
        }));
        EXPECT_EQ(page_->StopGrab(), 1);
        return path;
    }
    QStringList Boxes() { return host_.testServices.messages.Texts(); }

    TestPageHost host_;
    fs::path output_;
    std::unique_ptr<quil::test::NullSink> sink_;
    std::unique_ptr<quil::test::TonePlayer> tone_;
    std::unique_ptr<LivePage> page_;
};

TEST_F(LivePageTest, RecordsPausesAndResumesInTheSameFileAndRow) {
    OpenOnTone();
    host_.outputFormat = 0;
    ASSERT_EQ(page_->StartGrab(), 1);
    EXPECT_EQ(page_->Activity(), 0);
    EXPECT_FALSE(Devices()->isEnabled());
    auto& rows = page_->Recordings();
    ASSERT_EQ(rows.rowCount(), 1);
    const QString path = page_->RecordingPath();
    EXPECT_EQ(Row(0).format, "wav");
    EXPECT_EQ(Row(0).fileName, QString::fromStdString(fs::path(path.toStdString()).filename()));
    EXPECT_EQ(Row(0).status, "Recording");
    EXPECT_EQ(Row(0).duration, "00:00:00");
    EXPECT_EQ(Row(0).size, "0 kb");
    EXPECT_EQ(rows.data(rows.index(0, 3), Qt::ToolTipRole).toString(), path);
    EXPECT_EQ(rows.Highlighted(), 0);
    EXPECT_EQ(host_.formatText, "44kHz 16Bits Stereo");
    EXPECT_EQ(host_.pathText, path);

    // The meter shows that sound arrives.
    EXPECT_TRUE(WaitFor([&] { return page_->Meter()->Level() > 0.2; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return Row(0).duration == "00:00:02"; }));
    EXPECT_TRUE(Row(0).size.endsWith(" kbs")) << Row(0).size.toStdString();

    ASSERT_EQ(page_->PauseGrab(), 1);
    EXPECT_EQ(Row(0).status, "Record Pause");
    EXPECT_EQ(page_->Activity(), 2);
    ASSERT_EQ(page_->StartGrab(), 1);
    EXPECT_EQ(page_->Activity(), 0);
    EXPECT_EQ(rows.rowCount(), 1);
    EXPECT_EQ(page_->RecordingPath(), path);
    EXPECT_EQ(Row(0).status, "Recording");
    ASSERT_TRUE(WaitFor([&] { return Row(0).duration == "00:00:04"; }));

    ASSERT_EQ(page_->StopGrab(), 1);
    EXPECT_EQ(Row(0).status, "Stop");
    EXPECT_EQ(Row(0).duration, "00:00:04");
    EXPECT_EQ(page_->Activity(), 4);
    EXPECT_FALSE(page_->Recording());
    EXPECT_EQ(rows.Highlighted(), -1);
    EXPECT_TRUE(host_.WasPosted(MSG_STOPPED));
    EXPECT_TRUE(Devices()->isEnabled());
    EXPECT_TRUE(host_.formatText.isEmpty());
    EXPECT_TRUE(host_.pathText.isEmpty());
    EXPECT_TRUE(Boxes().isEmpty());

    // One file with the tone of both parts; starting again makes a new file and row.
    auto audio = quil::test::DecodeAudio(path.toStdString());
    ASSERT_TRUE(audio);
    EXPECT_NEAR(audio->duration, 4.0, 1.5);
    EXPECT_GT(ToneShare(*audio, kTone), 0.5);
    QString second = Record(1);
    EXPECT_NE(second, path);
    EXPECT_EQ(rows.rowCount(), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(output_), fs::directory_iterator()), 2);
}

TEST_F(LivePageTest, EachFormatRecordsAPlayableFile) {
    OpenOnTone();
    // The main window fills the profile lists through a CD grabber at start; so does this test.
    auto* profiles = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
    ASSERT_TRUE(profiles);
    host_.catalogue = settings::WmaProfileCatalogue::BuildFrom(*profiles);
    profiles->Destroy();
    const char* extensions[] = {"wav", "mp3", "wma", "ogg"};
    for (int format = 0; format < 4; ++format) {
        host_.outputFormat = format;
        QString path = Record(2);
        EXPECT_EQ(Row(format).format, extensions[format]);
        EXPECT_TRUE(path.endsWith(QString(".") + extensions[format]));
        auto audio = quil::test::DecodeAudio(path.toStdString());
        ASSERT_TRUE(audio) << extensions[format];
        EXPECT_GT(ToneShare(*audio, kTone), 0.5) << extensions[format];
    }
}

TEST_F(LivePageTest, PlaysListedRecordingsButNotTheOneBeingRecorded) {
    OpenOnTone();
    EXPECT_EQ(page_->Play(), 0);
    EXPECT_EQ(Boxes(), QStringList{LoadString(176)});
    QString first = Record(2);
    QString second = Record(1);
    ASSERT_EQ(page_->StartGrab(), 1);
    Select(2);
    EXPECT_EQ(page_->Play(), 0);
    EXPECT_EQ(Boxes().last(), LoadString(177));

    // Another recording plays while this one goes on.
    Select(0);
    ASSERT_EQ(page_->Play(), 1);
    EXPECT_EQ(page_->PlayingPath(), first);
    EXPECT_EQ(Row(0).status, "Playing");
    // The file's own length, which the page's count of seconds matches to about a second.
    const QRegularExpression total(R"(\(00:00:0[1-3]\)$)");
    EXPECT_TRUE(Row(0).duration.startsWith("00:00:00(")) << Str(Row(0).duration);
    EXPECT_TRUE(total.match(Row(0).duration).hasMatch()) << Str(Row(0).duration);
    EXPECT_TRUE(host_.WasPosted(MSG_STARTED));
    ASSERT_TRUE(WaitFor([&] { return host_.WasPosted(MSG_PROGRESS); }, 10000));
    EXPECT_TRUE(total.match(Row(0).duration).hasMatch()) << Str(Row(0).duration);
    EXPECT_EQ(page_->Previous(), 0);
    ASSERT_EQ(page_->Next(), 1);
    EXPECT_EQ(page_->PlayingPath(), second);
    EXPECT_EQ(Row(0).status, "Stop");
    EXPECT_TRUE(QRegularExpression("^00:00:0[1-3]$").match(Row(0).duration).hasMatch());
    // The next row is the recording in progress.
    EXPECT_EQ(page_->Next(), 0);
    EXPECT_EQ(Boxes().last(), LoadString(177));
    EXPECT_EQ(page_->PlayingPath(), second);

    ASSERT_EQ(page_->PausePlayback(), 1);
    EXPECT_EQ(Row(1).status, "Play Pause");
    EXPECT_EQ(page_->Activity(), 3);
    ASSERT_EQ(page_->Play(), 1);
    EXPECT_EQ(Row(1).status, "Playing");
    // The recording went on counting meanwhile; the playback ends by itself.
    ASSERT_TRUE(WaitFor([&] { return page_->PlayingPath().isEmpty(); }, 20000));
    EXPECT_EQ(Row(1).status, "Stop");
    EXPECT_TRUE(host_.WasPosted(MSG_STOPPED_PLAYER));
    EXPECT_EQ(Row(2).status, "Recording");
    EXPECT_EQ(page_->Recordings().Highlighted(), 2);
    EXPECT_EQ(page_->StopGrab(), 1);
}

TEST_F(LivePageTest, ALostDeviceEndsTheRecordingWithAPlayableFile) {
    OpenOnTone("lost");
    const QString device = Devices()->currentText();
    ASSERT_EQ(page_->StartGrab(), 1);
    const QString path = page_->RecordingPath();
    ASSERT_TRUE(WaitFor([&] { return Row(0).duration == "00:00:02"; }));
    tone_.reset();
    sink_->Unload();
    ASSERT_TRUE(WaitFor([&] { return !page_->Recording(); }, 10000));
    EXPECT_EQ(Boxes(), QStringList{device + " " + LoadString(175)});
    EXPECT_EQ(host_.testServices.notifier.notes,
              QStringList{"Recording stopped\n" + device +
                          " was disconnected. What was recorded until then is in " +
                          QFileInfo(path).fileName() + "."});
    EXPECT_EQ(Row(0).status, "Stop");
    EXPECT_TRUE(host_.WasPosted(MSG_STOPPED));
    auto audio = quil::test::DecodeAudio(path.toStdString());
    ASSERT_TRUE(audio);
    EXPECT_GT(audio->duration, 1.5);
}

TEST_F(LivePageTest, AStartOnAVanishedDeviceNamesItAndLeavesNoRecorder) {
    OpenOnTone("vanish");
    const QString device = Devices()->currentText();
    tone_.reset();
    sink_->Unload();
    EXPECT_EQ(page_->StartGrab(), 0);
    EXPECT_EQ(Boxes(), (QStringList{device + " " + LoadString(173), LoadString(174)}));
    EXPECT_FALSE(page_->Recording());
    EXPECT_EQ(page_->Recordings().rowCount(), 0);
    EXPECT_TRUE(Devices()->isEnabled());
}

TEST_F(LivePageTest, SavedNamesSelectByPrefixElseTheFirst) {
    quil::test::NullSink sink("saved");
    std::string monitor = sink.monitorDescription();
    // A case-insensitive prefix finds the device.
    SaveChoice(
        QString::fromStdString(monitor.substr(0, monitor.size() - 2)).toUpper().toStdString());
    Open();
    EXPECT_EQ(Devices()->currentText().toStdString(), monitor);
    EXPECT_EQ(Lines()->currentIndex(), 0);
    EXPECT_GE(Lines()->count(), 1);
    page_.reset();

    SaveChoice("No such device any more", "No such line");
    Open();
    EXPECT_EQ(Devices()->currentIndex(), 0);
    EXPECT_EQ(Lines()->currentIndex(), Lines()->count() > 0 ? 0 : -1);

    // The choice shown is written back when the page goes.
    int entry = Devices()->findText(QString::fromStdString(monitor));
    ASSERT_GE(entry, 0);
    Devices()->setCurrentIndex(entry);
    emit Devices()->activated(entry);
    const std::string line = Lines()->currentText().toStdString();
    page_.reset();
    settings::SettingsKey key;
    ASSERT_TRUE(key.Open());
    EXPECT_EQ(key.ReadString(LivePage::kDeviceValue, ""), monitor);
    EXPECT_EQ(key.ReadString(LivePage::kLineValue, ""), line);
}

TEST_F(LivePageTest, TheLevelSliderAndMuteSetTheLinesVolume) {
    quil::test::NullSink sink("level");
    quil::test::Pactl("set-source-volume " + sink.monitor() + " 20000");
    SaveChoice(sink.monitorDescription());
    Open();
    ASSERT_EQ(Devices()->currentText().toStdString(), sink.monitorDescription());
    EXPECT_EQ(Slider()->Minimum(), 0);
    EXPECT_EQ(Slider()->Maximum(), 65536);
    EXPECT_EQ(Slider()->GetPos(), 20000);
    // The line change applied the level it read.
    EXPECT_NEAR(static_cast<double>(*quil::test::SourceVolume(sink.monitor())), 20000, 2);

    PostMessage(page_->Handle(), MSG_SLIDER_MOVED, LivePage::kLevelSliderId, 32768);
    ASSERT_TRUE(WaitFor([&] { return *quil::test::SourceVolume(sink.monitor()) == 32768; }));
    // Another slider's messages are not the level's.
    PostMessage(page_->Handle(), MSG_SLIDER_MOVED, kVolumeSliderId, 100);
    QApplication::processEvents();
    EXPECT_EQ(*quil::test::SourceVolume(sink.monitor()), 32768u);

    Slider()->SetPos(32768);
    Mute()->click();
    EXPECT_FALSE(Slider()->isEnabled());
    EXPECT_EQ(*quil::test::SourceVolume(sink.monitor()), 0u);
    // While muted, dragging does nothing.
    SendMessage(page_->Handle(), MSG_SLIDER_MOVED, LivePage::kLevelSliderId, 40000);
    EXPECT_EQ(*quil::test::SourceVolume(sink.monitor()), 0u);
    Mute()->click();
    EXPECT_TRUE(Slider()->isEnabled());
    // Unmuting reads the level back and applies none.
    EXPECT_EQ(Slider()->GetPos(), 0);
    EXPECT_EQ(*quil::test::SourceVolume(sink.monitor()), 0u);
}

TEST_F(LivePageTest, WithoutAnyDeviceTheListIsHiddenAndTheWindowLocked) {
    SaveChoice("Before", "Line before");
    const QByteArray server = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", (quil::test::TestDir() / "no-such-socket").c_str());
    Open();
    qputenv("PULSE_SERVER", server);
    EXPECT_TRUE(page_->NoDevice());
    EXPECT_FALSE(List()->isVisibleTo(page_.get()));
    // The user is told why, in the list's place; the controls stay at the top.
    auto* note = page_->findChild<QLabel*>("noDeviceNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisibleTo(page_.get()));
    EXPECT_EQ(note->text(), "No recording device was found.");
    page_->show();
    QApplication::processEvents();
    EXPECT_LT(Devices()->mapTo(page_.get(), QPoint(0, 0)).y(), page_->height() / 4);
    EXPECT_FALSE(Devices()->isEnabled());
    EXPECT_FALSE(Lines()->isEnabled());
    EXPECT_FALSE(Slider()->isEnabled());
    EXPECT_FALSE(Mute()->isEnabled());
    EXPECT_TRUE(host_.WasPosted(MSG_LOCK_CONTROLS));
    EXPECT_EQ(page_->StartGrab(), 0);
    EXPECT_EQ(page_->StopGrab(), 0);
    EXPECT_TRUE(Boxes().isEmpty());
    // Nothing is written back for a computer without devices.
    page_.reset();
    settings::SettingsKey key;
    ASSERT_TRUE(key.Open());
    EXPECT_EQ(key.ReadString(LivePage::kDeviceValue, ""), "Before");
}

TEST_F(LivePageTest, AnEmptyOutputPathRefusesTheRecording) {
    OpenOnTone("nopath");
    DeleteSettingsKey();
    EXPECT_EQ(page_->StartGrab(), 0);
    EXPECT_EQ(Boxes(), QStringList{LoadString(130)});
    EXPECT_FALSE(page_->Recording());
}

TEST_F(LivePageTest, Screenshot) {
    OpenOnTone("Studio");
    page_->show();
    Record(2);
    host_.outputFormat = 1;
    Record(1);
    host_.outputFormat = 3;
    ASSERT_EQ(page_->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return Row(2).duration == "00:00:02"; }));
    ASSERT_TRUE(WaitFor([&] { return page_->Meter()->Level() > 0.2; }, 10000));
    ASSERT_TRUE(SaveScreenshot(page_.get(), "live-recording"));
    page_->StopGrab();
}

}  // namespace
}  // namespace quil::shell::testing
