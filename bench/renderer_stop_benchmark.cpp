// Prints how long Stop and a seek take while the audio renderer plays a long file, at a few
// points of the playback. Run it through scripts/with-pulse.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/com/strings.h"
#include "platform/filters/stock_filters.h"
#include "platform/graph/base_filter.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void WriteTone(const std::string& path, int seconds) {
    const uint32_t rate = 44100, channels = 2, bytes = rate * channels * 2 * seconds;
    std::ofstream out(path, std::ios::binary);
    auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    put32(36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(channels);
    put32(rate);
    put32(rate * channels * 2);
    put16(channels * 2);
    put16(16);
    out.write("data", 4);
    put32(bytes);
    std::vector<int16_t> frame(rate * channels);
    for (uint32_t i = 0; i < rate; ++i)
        frame[2 * i] = frame[2 * i + 1] =
            static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * i / rate));
    for (int s = 0; s < seconds; ++s)
        out.write(reinterpret_cast<const char*>(frame.data()), frame.size() * 2);
}

struct Figures {
    std::vector<double> values;
    void Print(const char* name) {
        std::sort(values.begin(), values.end());
        std::printf("%-6s min %7.1f ms  median %7.1f ms  max %7.1f ms  (%zu runs)\n", name,
                    values.front(), values[values.size() / 2], values.back(), values.size());
    }
};

}  // namespace

int main() {
    if (!std::getenv("PULSE_SERVER")) {
        std::printf("skipped: run through scripts/with-pulse for the private sound server\n");
        return 0;
    }
    using namespace quil;
    filters::RegisterStockFilters();
    auto file = std::filesystem::temp_directory_path() / "quil-renderer-stop.wav";
    WriteTone(file.string(), 30);
    Figures stops, seeks;
    for (int run = 0; run < 16; ++run) {
        ComPtr<IGraphBuilder> graph;
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                         IID_PPV_ARGS(graph.Put()));
        ComPtr<IBaseFilter> source;
        if (FAILED(graph->AddSourceFilter(Widen(file.string()).c_str(), nullptr, source.Put())) ||
            FAILED(graph->Render(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get()))) {
            std::printf("failed: the graph does not play\n");
            return 1;
        }
        auto control = QueryAs<IMediaControl>(graph.Get());
        auto position = QueryAs<IMediaPosition>(graph.Get());
        if (FAILED(control->Run())) {
            std::printf("failed: no sound output\n");
            return 1;
        }
        // Even runs stop while playing (from early on to well into the file), odd runs seek
        // first and stop a while after.
        std::this_thread::sleep_for(std::chrono::milliseconds(200 + 150 * run));
        if (run % 2 == 1) {
            auto started = Clock::now();
            position->put_CurrentPosition(10.0 + run);
            seeks.values.push_back(Milliseconds(started));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        auto started = Clock::now();
        control->Stop();
        stops.values.push_back(Milliseconds(started));
    }
    std::filesystem::remove(file);
    stops.Print("stop");
    seeks.Print("seek");
    return 0;
}
