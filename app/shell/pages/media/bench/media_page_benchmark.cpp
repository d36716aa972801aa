// Prints how long the media file page takes to grab a file into MP3 against quilgrab grabbing
// the same file with the same options, so the page's polling can be seen not to slow a grab.
// Usage: media_page_benchmark [INPUT] (default: a ten-minute tone made with ffmpeg).

#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/media/media_page.h"
#include "app/shell/testing/test_page_host.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Processor time (user and system) of this process or of its finished children.
double ProcessorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figure {
    double wall = -1;
    double processor = -1;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Figure GrabWithQuilgrab(const fs::path& quilgrab, const fs::path& input, const fs::path& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    std::string command = "'" + quilgrab.string() + "' file '" + input.string() +
                          "' --format mp3 --out '" + out.string() + "' >/dev/null 2>&1";
    double processor = ProcessorSeconds(RUSAGE_CHILDREN);
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) return {};
    return {Seconds(start), ProcessorSeconds(RUSAGE_CHILDREN) - processor};
}

Figure GrabWithPage(const fs::path& input, const fs::path& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    quil::settings::SettingsKey::ForSave().WriteString("Output directory", out.string() + "/");
    quil::shell::testing::TestPageHost host;
    host.outputFormat = 1;  // MP3
    quil::shell::MediaPage page(host);
    page.AddFiles({QString::fromStdString(input.string())});
    double processor = ProcessorSeconds(RUSAGE_SELF);
    auto start = Clock::now();
    if (!page.StartGrab()) return {};
    // An event loop as the main window runs it, idle between the grabber's messages and the
    // page's one-second timer.
    QEventLoop loop;
    QTimer check;
    bool done = false;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!host.WasPosted(quil::shell::MSG_STOPPED_PLAYER)) return;
        done = true;
        loop.quit();
    });
    check.start(100);
    loop.exec();
    if (!done) return {};
    return {Seconds(start), ProcessorSeconds(RUSAGE_SELF) - processor};
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work = fs::temp_directory_path() / ("media_page_bench." + std::to_string(getpid()));
    fs::create_directories(work / "config");
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work / "config").c_str(), 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    fs::path input = argc > 1 ? fs::path(argv[1]) : work / "ten.mp3";
    if (argc <= 1) {
        std::string make =
            "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=600 -ac 2 "
            "-ar 44100 -b:a 128k '" +
            input.string() + "'";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg could not make the input\n");
            return 1;
        }
    }
    fs::path quilgrab = fs::canonical("/proc/self/exe").parent_path() / "quilgrab";
    std::vector<double> toolWall, toolCpu, pageWall, pageCpu;
    for (int round = 0; round < 3; ++round) {
        Figure tool = GrabWithQuilgrab(quilgrab, input, work / "tool");
        Figure page = GrabWithPage(input, work / "page");
        std::printf(
            "round %d: quilgrab %.2f s (processor %.2f s), page %.2f s (processor %.2f s)\n",
            round + 1, tool.wall, tool.processor, page.wall, page.processor);
        toolWall.push_back(tool.wall);
        toolCpu.push_back(tool.processor);
        pageWall.push_back(page.wall);
        pageCpu.push_back(page.processor);
    }
    double tw = Median(toolWall), pw = Median(pageWall), tc = Median(toolCpu), pc = Median(pageCpu);
    std::printf(
        "media file page grab to MP3 128k (%s), median of 3: wall page %.2f s, "
        "quilgrab %.2f s, ratio %.3f; processor page %.2f s, quilgrab %.2f s, ratio %.3f\n",
        input.filename().c_str(), pw, tw, tw > 0 ? pw / tw : 0.0, pc, tc, tc > 0 ? pc / tc : 0.0);
    fs::remove_all(work);
    return 0;
}
