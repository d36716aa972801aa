// The master volume outlives a restart of the sound server: its change notifications come back
// once the new server answers. The test runs its own server, so it can stop and start it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/mixer/mixer_control.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

using mixer::MasterVolume;
using namespace std::chrono_literals;

class OwnServer {
public:
    explicit OwnServer(std::filesystem::path dir) : dir_(std::move(dir)) {
        std::filesystem::create_directories(dir_ / "home");
        setenv("PULSE_SERVER", ("unix:" + (dir_ / "native").string()).c_str(), 1);
    }
    ~OwnServer() { Stop(); }

    bool Start() {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("HOME", (dir_ / "home").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            int log = open((dir_ / "log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (log >= 0) {
                dup2(log, STDOUT_FILENO);
                dup2(log, STDERR_FILENO);
            }
            std::string socket =
                "module-native-protocol-unix socket=" + (dir_ / "native").string() +
                " auth-anonymous=1";
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--use-pid-file=false",
                   "--exit-idle-time=-1", "--disallow-exit", "-F", "/dev/null", "-L",
                   "module-null-sink sink_name=qtest", "-L", socket.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 1;
            Pactl("info", &status);
            if (status == 0) {
                Pactl("set-default-sink qtest");
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
};

struct SeenLevels {
    std::vector<long> levels;
    static void Observe(long level, void* user) {
        static_cast<SeenLevels*>(user)->levels.push_back(level);
    }
};

// Sets the volume now and then until the observer reports it; false at the deadline.
bool ObserverSees(QueueWindow& window, SeenLevels& seen, long level) {
    auto deadline = std::chrono::steady_clock::now() + 30s;
    auto nextSet = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        if (!seen.levels.empty() && seen.levels.back() == level) return true;
        if (std::chrono::steady_clock::now() >= nextSet) {
            Pactl("set-sink-volume qtest " + std::to_string(level));
            nextSet = std::chrono::steady_clock::now() + 1s;
        }
        if (auto message = window.Take(100ms)) window.Handle(*message);
    }
    return false;
}

TEST(MixerReconnect, NotificationsComeBackAfterTheServerRestarts) {
    if (RunCommand("command -v pulseaudio >/dev/null") != 0) GTEST_SKIP() << "no pulseaudio";
    OwnServer server(MakeTempDir("ownpulse"));
    ASSERT_TRUE(server.Start());
    MasterVolume* volume = nullptr;
    QueueWindow window([&](const Message& message) -> LRESULT {
        return volume && volume->HandleMessage(message) ? 1 : 0;
    });
    MasterVolume master(window.handle());
    volume = &master;
    ASSERT_TRUE(master.IsUsable());
    // The server's own count of volume steps, not a fixed one; a software volume has 65537
    // levels.
    EXPECT_EQ(master.GetSteps(), 65536);
    SeenLevels seen;
    master.SetObserver(&SeenLevels::Observe, &seen);
    ASSERT_TRUE(ObserverSees(window, seen, 20000));

    server.Stop();
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(ObserverSees(window, seen, 40000));
    EXPECT_EQ(master.GetLevel(), 40000);
    master.SetLevel(30000);
    EXPECT_EQ(SinkVolume("qtest"), 30000u);
}

}  // namespace
}  // namespace quil::test
