// Records from the private sound server into MP3 for a while (ten minutes unless told) and
// prints the processor time per minute of audio, the overruns and the delay from the server to
// the file. Run it through scripts/with-pulse.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/live/live_grabber_internal.h"
#include "platform/audio/capture_interfaces.h"
#include "platform/audio/recording_devices.h"
#include "platform/graph/base_filter.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 10;
    if (argc > 2 && std::string(argv[1]) == "--minutes") minutes = std::atof(argv[2]);
    if (!std::getenv("PULSE_SERVER")) {
        std::printf("skipped: run through scripts/with-pulse for the private sound server\n");
        return 0;
    }
    std::string sink = "quil_bench_" + std::to_string(getpid());
    std::string module = Run("pactl load-module module-null-sink sink_name=" + sink);
    if (module.empty()) return 1;
    // A tone for the whole recording, played with a small latency.
    pid_t player = fork();
    if (player == 0) {
        setpgid(0, 0);
        std::string seconds = std::to_string(static_cast<int>(minutes * 60) + 30);
        std::string command = "sox -q -n -r 44100 -c 2 -b 16 -t raw - synth " + seconds +
                              " sine 1000 vol 0.5 | pacat --latency-msec=20 -d " + sink;
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // A fresh null sink hands out its first block only after about two seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    auto dir = std::filesystem::temp_directory_path() / ("quilbench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto output = (dir / "bench.mp3").string();
    auto device = quil::audio::FindRecordingSource(sink + ".monitor");
    auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    int status = 1;
    if (device && grabber->SelectDevice(device->name.c_str(), 0)) {
        grabber->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
        if (grabber->BuildGraph(1, output.c_str()) && grabber->Run()) {
            auto capture =
                quil::FindPinByIndex(quil::engine::CaptureDeviceOf(grabber), PINDIR_OUTPUT, 1);
            auto control = quil::QueryAs<IAudioCaptureControl>(capture.Get());
            double cpuStart = CpuSeconds();
            auto started = std::chrono::steady_clock::now();
            double latencySum = 0, latencyMax = 0;
            int samples = 0;
            while (std::chrono::steady_clock::now() - started <
                   std::chrono::duration<double>(minutes * 60)) {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                REFERENCE_TIME latency = 0;
                if (control && SUCCEEDED(control->GetLatency(&latency)) && latency > 0) {
                    latencySum += latency / 1e4;
                    latencyMax = std::max(latencyMax, latency / 1e4);
                    ++samples;
                }
                if (isatty(STDERR_FILENO))
                    std::fprintf(
                        stderr, "\r%6.0f s",
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                            .count());
            }
            double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            grabber->Stop();
            double cpu = CpuSeconds() - cpuStart;
            ULONG overruns = 0;
            LONGLONG lost = 0;
            if (control) control->GetOverruns(&overruns, &lost);
            grabber->ReleaseGraph();
            double recorded = std::atof(
                Run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + output + "'")
                    .c_str());
            if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\n");
            std::printf("live capture to MP3 128 kbit/s, %.1f minutes (44100 Hz stereo)\n",
                        wall / 60);
            std::printf("  processor time   %.2f s per minute of audio (%.1f %% of one core)\n",
                        cpu / (wall / 60), 100 * cpu / wall);
            std::printf("  overruns         %u (%lld bytes lost)\n", overruns,
                        static_cast<long long>(lost));
            std::printf(
                "  latency          %.1f ms average, %.1f ms at most from the server to "
                "the file,\n                   plus up to 50 ms while the server fills "
                "a fragment\n",
                samples ? latencySum / samples : 0.0, latencyMax);
            std::printf("  file             %.2f s of audio for %.2f s of running\n", recorded,
                        wall);
            status = 0;
        }
    }
    if (status) std::fprintf(stderr, "live_capture_benchmark: the recording did not start\n");
    grabber->ReleaseGraph();
    grabber->Destroy();
    kill(-player, SIGTERM);
    waitpid(player, nullptr, 0);
    Run("pactl unload-module " + module);
    std::filesystem::remove_all(dir);
    return status;
}
