// MixerControl against the private sound server: what it reads is what pactl sets, and the
// names it gives are the ones the live grabber selects by.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/mixer/mixer_control.h"
#include "engine/live/live_audio_grabber.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

using mixer::MasterVolume;
using mixer::MixerControl;

#define NEED_PULSE() \
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)"

std::vector<std::string> RecordDevices() {
    std::vector<std::string> names;
    std::string name;
    for (int i = 0; MixerControl::GetRecordDeviceName(i, &name); ++i) names.push_back(name);
    return names;
}

TEST(MixerControlRecording, DevicesAndLinesAreTheGrabbersOwn) {
    NEED_PULSE();
    NullSink sink("mixer");
    auto names = RecordDevices();
    EXPECT_NE(std::find(names.begin(), names.end(), "Monitor of Null Output"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), sink.monitorDescription()), names.end());
    std::string unused;
    // Far past the end: other tests may add a device right after the listing.
    EXPECT_FALSE(MixerControl::GetRecordDeviceName(static_cast<int>(names.size()) + 1000, &unused));
    EXPECT_FALSE(MixerControl::GetRecordDeviceName(-1, &unused));

    // The live page lists devices here and selects them in the grabber: the lists agree.
    // Other tests add and remove sinks on the same server between two listings, so compare
    // listings taken back to back until two agree.
    auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    std::vector<std::string> grabberNames;
    for (int attempt = 0; attempt < 20; ++attempt) {
        names = RecordDevices();
        grabberNames.clear();
        const char* name = nullptr;
        ASSERT_EQ(grabber->BeginDeviceEnumeration(), 1);
        while (grabber->NextDeviceName(&name)) grabberNames.push_back(name);
        if (grabberNames == names) break;
    }
    EXPECT_EQ(grabberNames, names);
    const std::string device = sink.monitorDescription();
    ASSERT_EQ(MixerControl::GetRecordLineCount(device), 1);
    std::string line;
    ASSERT_TRUE(MixerControl::GetRecordLineName(device, &line, 0));
    EXPECT_EQ(line, device);  // a source without ports: one line named after it
    EXPECT_FALSE(MixerControl::GetRecordLineName(device, &line, 1));
    ASSERT_EQ(grabber->SelectDevice(device.c_str(), 0), 1);
    EXPECT_EQ(grabber->EnableInputLineByName(line.c_str(), 1), 1);
    ASSERT_EQ(grabber->SetInputLevel(0.75), 1);
    uint32_t minimum = 1, maximum = 0, steps = 0, level = 0;
    ASSERT_TRUE(
        MixerControl::GetRecordLineVolume(device, line, &minimum, &maximum, &steps, &level));
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65536u);
    EXPECT_EQ(steps, 65536u);
    EXPECT_EQ(level, 49152u);
    grabber->ReleaseGraph();
    grabber->Destroy();

    Pactl("set-source-volume " + sink.monitor() + " 20000");
    ASSERT_TRUE(
        MixerControl::GetRecordLineVolume(device, line, &minimum, &maximum, &steps, &level));
    EXPECT_EQ(level, 20000u);
    // Above 100 % still reads as the maximum.
    Pactl("set-source-volume " + sink.monitor() + " 90000");
    ASSERT_TRUE(
        MixerControl::GetRecordLineVolume(device, line, &minimum, &maximum, &steps, &level));
    EXPECT_EQ(level, 65536u);
}

TEST(MixerControlRecording, UnknownDevicesAndLinesFail) {
    NEED_PULSE();
    NullSink sink("unknown");
    EXPECT_EQ(MixerControl::GetRecordLineCount("No such device"), 0);
    std::string line;
    EXPECT_FALSE(MixerControl::GetRecordLineName("No such device", &line, 0));
    uint32_t minimum = 7, maximum = 7, steps = 7, level = 7;
    EXPECT_FALSE(MixerControl::GetRecordLineVolume("No such device", "x", &minimum, &maximum,
                                                   &steps, &level));
    // Names are compared exactly.
    std::string device = sink.monitorDescription();
    EXPECT_FALSE(MixerControl::GetRecordLineVolume(device, device + " ", &minimum, &maximum, &steps,
                                                   &level));
    EXPECT_EQ(MixerControl::GetRecordLineCount(device.substr(0, device.size() - 1)), 0);
    EXPECT_EQ(level, 7u);
}

TEST(MixerControlRecording, NoSoundServerMeansNoDevices) {
    // In a child, so the rest of the process keeps its server.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("PULSE_SERVER", (TestDir() / "no-such-socket").c_str(), 1);
        std::string name;
        bool ok = !MixerControl::GetRecordDeviceName(0, &name) &&
                  MixerControl::GetRecordLineCount("Monitor of Null Output") == 0;
        MasterVolume volume;
        ok = ok && !volume.IsOpened() && !volume.IsUsable() && volume.GetMinimum() == -1 &&
             volume.GetMaximum() == -1 && volume.GetLevel() == -1;
        volume.SetLevel(100);
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

struct SeenLevels {
    std::vector<long> levels;
    static void Observe(long level, void* user) {
        static_cast<SeenLevels*>(user)->levels.push_back(level);
    }
};

TEST(MixerControlMasterVolume, ReadsSetsAndReportsTheDefaultSink) {
    NEED_PULSE();
    std::string sink = DefaultSink();
    ASSERT_FALSE(sink.empty());
    auto before = SinkVolume(sink);
    ASSERT_TRUE(before);
    MasterVolume* volume = nullptr;
    QueueWindow window([&](const Message& message) -> LRESULT {
        return volume && volume->HandleMessage(message) ? 1 : 0;
    });
    MasterVolume master(window.handle());
    volume = &master;
    ASSERT_TRUE(master.IsOpened());
    ASSERT_TRUE(master.IsUsable());
    EXPECT_EQ(master.GetMinimum(), 0);
    EXPECT_EQ(master.GetMaximum(), 65536);
    EXPECT_EQ(master.GetLevel(), static_cast<long>(std::min<uint32_t>(*before, 65536)));

    master.SetLevel(30000);
    EXPECT_EQ(SinkVolume(sink), 30000u);
    EXPECT_EQ(master.GetLevel(), 30000);
    master.SetLevel(65537);  // outside the range: nothing changes
    master.SetLevel(-1);
    EXPECT_EQ(SinkVolume(sink), 30000u);

    SeenLevels seen;
    master.SetObserver(&SeenLevels::Observe, &seen);
    window.Drain();
    seen.levels.clear();
    Pactl("set-sink-volume " + sink + " 12345");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline &&
           (seen.levels.empty() || seen.levels.back() != 12345)) {
        if (auto message = window.Take(std::chrono::milliseconds(100))) window.Handle(*message);
    }
    ASSERT_FALSE(seen.levels.empty());
    EXPECT_EQ(seen.levels.back(), 12345);
    Pactl("set-sink-volume " + sink + " " + std::to_string(*before));
}

TEST(MixerControlMasterVolume, ChangesOfOtherSinksDoNotReachTheObserver) {
    NEED_PULSE();
    NullSink other("othersink");
    QueueWindow window;
    MasterVolume master(window.handle());
    ASSERT_TRUE(master.IsUsable());
    SeenLevels seen;
    master.SetObserver(&SeenLevels::Observe, &seen);
    Pactl("set-sink-volume " + other.name() + " 1000");
    // Everything posted so far is handled; the other sink's level never reaches the observer.
    // (The default sink may report its own changes meanwhile: other tests play into it.)
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto message = window.Take(std::chrono::milliseconds(100))) {
            EXPECT_TRUE(master.HandleMessage(*message));
        }
    }
    EXPECT_EQ(std::count(seen.levels.begin(), seen.levels.end(), 1000L), 0);
    Message unrelated{window.handle(), 1234, 0, 0};
    EXPECT_FALSE(master.HandleMessage(unrelated));
}

}  // namespace
}  // namespace quil::test
