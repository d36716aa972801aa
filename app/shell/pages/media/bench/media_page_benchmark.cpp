// Prints how long the media file page takes to grab a file into MP3 against quilgrab grabbing
// the same file with the same options, so the page's polling can be seen not to slow a grab.
// Usage: media_page_benchmark [INPUT] (default: a ten-minute tone made with ffmpeg).

#include <QApplication>

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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double GrabWithQuilgrab(const fs::path& quilgrab, const fs::path& input, const fs::path& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    std::string command = "'" + quilgrab.string() + "' file '" + input.string() +
                          "' --format mp3 --out '" + out.string() + "' >/dev/null 2>&1";
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    return Seconds(start);
}

double GrabWithPage(const fs::path& input, const fs::path& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    quil::settings::SettingsKey::ForSave().WriteString("Output directory", out.string() + "/");
    quil::shell::testing::TestPageHost host;
    host.outputFormat = 1;  // MP3
    quil::shell::MediaPage page(host);
    page.AddFiles({QString::fromStdString(input.string())});
    auto start = Clock::now();
    if (!page.StartGrab()) return -1;
    bool done = quil::shell::testing::WaitFor(
        [&] { return host.WasPosted(quil::shell::MSG_STOPPED_PLAYER); }, 3600 * 1000);
    return done ? Seconds(start) : -1;
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
    std::vector<double> tool, page;
    for (int round = 0; round < 3; ++round) {
        tool.push_back(GrabWithQuilgrab(quilgrab, input, work / "tool"));
        page.push_back(GrabWithPage(input, work / "page"));
        std::printf("round %d: quilgrab %.2f s, page %.2f s\n", round + 1, tool.back(),
                    page.back());
    }
    double t = Median(tool), p = Median(page);
    std::printf(
        "media file page grab to MP3 128k (%s): page %.2f s, quilgrab %.2f s, "
        "page/quilgrab %.3f (median of 3)\n",
        input.filename().c_str(), p, t, t > 0 ? p / t : 0.0);
    fs::remove_all(work);
    return 0;
}
