// Prints the throughput of WAV -> PCM converter -> WAV through the filter graph as a multiple
// of real time. Usage: pcm_throughput INPUT.wav OUTPUT.wav RATE CHANNELS

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/com/strings.h"
#include "platform/filters/stock_filters.h"
#include "platform/graph/base_filter.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s INPUT.wav OUTPUT.wav RATE CHANNELS\n", argv[0]);
        return 2;
    }
    using namespace quil;
    filters::RegisterStockFilters();
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(graph.Put()));
    auto make = [&](const CLSID& clsid, const wchar_t* name) {
        ComPtr<IBaseFilter> filter;
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter.Put()));
        graph->AddFilter(filter.Get(), name);
        return filter;
    };
    ComPtr<IBaseFilter> source;
    if (FAILED(graph->AddSourceFilter(Widen(argv[1]).c_str(), nullptr, source.Put()))) return 1;
    auto converter = make(CLSID_PcmConverter, L"PCM Converter");
    auto waveDest = make(CLSID_WavDest, L"Wave Dest");
    auto writer = make(CLSID_FileWriter, L"File Writer");
    QueryAs<IFileSinkFilter2>(writer.Get())->SetMode(AM_FILE_OVERWRITE);
    QueryAs<IFileSinkFilter2>(writer.Get())->SetFileName(Widen(argv[2]).c_str(), nullptr);
    MediaType target = PcmMediaType(std::atoi(argv[3]), std::atoi(argv[4]), 16);
    if (FAILED(graph->ConnectDirect(FindPinByIndex(source.Get(), PINDIR_OUTPUT, 1).Get(),
                                    FindPinByIndex(converter.Get(), PINDIR_INPUT, 1).Get(), nullptr)) ||
        FAILED(graph->ConnectDirect(FindPinByIndex(converter.Get(), PINDIR_OUTPUT, 1).Get(),
                                    FindPinByIndex(waveDest.Get(), PINDIR_INPUT, 1).Get(), &target)) ||
        FAILED(graph->Connect(FindPinByIndex(waveDest.Get(), PINDIR_OUTPUT, 1).Get(),
                              FindPinByIndex(writer.Get(), PINDIR_INPUT, 1).Get())))
        return 1;
    REFTIME duration = 0;
    QueryAs<IMediaPosition>(graph.Get())->get_Duration(&duration);
    auto started = std::chrono::steady_clock::now();
    QueryAs<IMediaControl>(graph.Get())->Run();
    LONG code = 0;
    QueryAs<IMediaEventEx>(graph.Get())->WaitForCompletion(-1, &code);
    QueryAs<IMediaControl>(graph.Get())->Stop();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("graph   %8.2f s  %8.1fx real time\n", seconds, duration / seconds);
    return code == EC_COMPLETE ? 0 : 1;
}
