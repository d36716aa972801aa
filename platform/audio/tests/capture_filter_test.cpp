// The device enumerator, the capture filter and its pins, against the private sound server.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/capture_filter.h"
#include "platform/audio/capture_interfaces.h"
#include "platform/audio/device_enum.h"
#include "platform/audio/recording_devices.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/graph/graph_registry.h"
#include "platform/graph/sink_filter.h"
#include "testsupport/pulse_server.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

#define NEED_PULSE() \
    if (!HavePulse()) GTEST_SKIP() << "needs the private sound server (scripts/with-pulse)"

constexpr CLSID kRecordingSink = quil::Guid("{0B7D3E51-2C9A-4F60-8E17-5D4A3B2C1F09}");

// Keeps what reaches it; can hold each sample for a while, like an encoder that falls behind.
class RecordingSink final : public SinkFilter {
public:
    explicit RecordingSink(int holdMs = 0) : SinkFilter(kRecordingSink, false), holdMs_(holdMs) {}
    HRESULT CheckMediaType(const MediaType& type) override { return type.IsPcm() ? S_OK : S_FALSE; }
    HRESULT RenderSample(IMediaSample* sample) override {
        REFERENCE_TIME start = -1, end = -1;
        sample->GetTime(&start, &end);
        {
            std::lock_guard lock(mutex);
            times.emplace_back(start, end);
            bytes += sample->GetActualDataLength();
        }
        if (holdMs_) std::this_thread::sleep_for(std::chrono::milliseconds(holdMs_));
        return S_OK;
    }
    HRESULT OnEndOfStream() override {
        ended = true;
        return S_OK;
    }
    std::mutex mutex;
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> times;
    long long bytes = 0;
    std::atomic<bool> ended{false};

private:
    int holdMs_;
};

std::vector<ComPtr<IMoniker>> Monikers() {
    audio::RegisterAudioClasses();
    std::vector<ComPtr<IMoniker>> list;
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(enumerator.Put()))))
        return list;
    ComPtr<IEnumMoniker> monikers;
    if (enumerator->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0) !=
        S_OK)
        return list;
    IMoniker* moniker = nullptr;
    ULONG fetched = 0;
    while (monikers->Next(1, &moniker, &fetched) == S_OK)
        list.push_back(ComPtr<IMoniker>::Adopt(moniker));
    return list;
}

std::string Property(IMoniker* moniker, const wchar_t* name) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag.Put())))) return {};
    VARIANT value;
    VariantInit(&value);
    std::string text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR)
        text = Narrow(value.bstrVal);
    VariantClear(&value);
    return text;
}

ComPtr<IBaseFilter> BindDevice(const std::string& sourceName) {
    for (auto& moniker : Monikers()) {
        if (Property(moniker.Get(), L"DevicePath") != sourceName) continue;
        ComPtr<IBaseFilter> filter;
        if (SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter.Put()))))
            return filter;
    }
    return {};
}

TEST(DeviceEnumerator, CategoriesMonikersAndTheirProperties) {
    NEED_PULSE();
    NullSink sink("enum");
    audio::RegisterAudioClasses();
    ComPtr<ICreateDevEnum> enumerator;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(enumerator.Put())),
              S_OK);
    ComPtr<IEnumMoniker> none;
    EXPECT_EQ(enumerator->CreateClassEnumerator(CLSID_FilterGraph, none.Put(), 0), S_FALSE);
    EXPECT_FALSE(none);

    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(enumerator->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0),
              S_OK);
    IMoniker* batch[64] = {};
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(2, batch, nullptr), E_POINTER);
    EXPECT_EQ(monikers->Next(64, batch, &fetched), S_FALSE);  // fewer than asked
    ASSERT_GE(fetched, 2u);
    std::vector<ComPtr<IMoniker>> all;
    for (ULONG i = 0; i < fetched; ++i) all.push_back(ComPtr<IMoniker>::Adopt(batch[i]));
    EXPECT_EQ(monikers->Skip(1), S_FALSE);
    ASSERT_EQ(monikers->Reset(), S_OK);
    ComPtr<IEnumMoniker> copy;
    ASSERT_EQ(monikers->Clone(copy.Put()), S_OK);
    IMoniker* first = nullptr;
    ASSERT_EQ(copy->Next(1, &first, nullptr), S_OK);
    auto held = ComPtr<IMoniker>::Adopt(first);
    EXPECT_EQ(Property(held.Get(), L"FriendlyName"), Property(all[0].Get(), L"FriendlyName"));

    bool seen = false;
    for (auto& moniker : all) {
        if (Property(moniker.Get(), L"DevicePath") != sink.monitor()) continue;
        seen = true;
        EXPECT_EQ(Property(moniker.Get(), L"FriendlyName"), sink.monitorDescription());
        ComPtr<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag.Put())), S_OK);
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        EXPECT_EQ(bag->Read(L"FriendlyName", &value, nullptr), E_INVALIDARG);
        VariantInit(&value);
        EXPECT_EQ(bag->Read(L"CLSID", &value, nullptr), E_INVALIDARG);
        LPWSTR display = nullptr;
        ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, &display), S_OK);
        EXPECT_EQ(Narrow(display), "@device:pulse:" + sink.monitor());
        CoTaskMemFree(display);
        // Unplugged after the listing: the moniker no longer binds.
        sink.Unload();
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter.Put())),
                  VFW_E_NO_AUDIO_HARDWARE);
    }
    EXPECT_TRUE(seen);
}

TEST(DeviceEnumerator, DevicesWithTheSameDescriptionGetDistinctNames) {
    NEED_PULSE();
    // Two sinks described alike, as two sound cards of one model are.
    std::string name1 = "quil_twin_a_" + std::to_string(getpid());
    std::string name2 = "quil_twin_b_" + std::to_string(getpid());
    std::string module1 = Pactl("load-module module-null-sink sink_name=" + name1 +
                                " sink_properties=device.description=Twin");
    std::string module2 = Pactl("load-module module-null-sink sink_name=" + name2 +
                                " sink_properties=device.description=Twin");
    auto devices = audio::RecordingDevices();
    Pactl("unload-module " + module1);
    Pactl("unload-module " + module2);
    std::vector<std::string> twins;
    for (const auto& device : devices)
        if (device.name.rfind("Monitor of Twin", 0) == 0) twins.push_back(device.name);
    ASSERT_EQ(twins.size(), 2u);
    EXPECT_EQ(twins[0], "Monitor of Twin");
    EXPECT_EQ(twins[1], "Monitor of Twin (" + name2 + ".monitor)");
}

TEST(CaptureFilter, PinsFollowTheLinesAndTheCapturePinOffersTheTable) {
    NEED_PULSE();
    NullSink sink("pins");
    audio::RecordingDevice device;
    device.name = "Three Lines";
    device.sourceName = sink.monitor();
    device.lines = {{"Microphone", "mic", true}, {"Line In", "line", true}, {"CD", "cd", false}};
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(audio::CreateCaptureFilter(device, IID_PPV_ARGS(filter.Put())), S_OK);
    std::vector<std::wstring> inputs;
    for (int n = 1; auto pin = FindPinByIndex(filter.Get(), PINDIR_INPUT, n); ++n) {
        inputs.push_back(PinName(pin.Get()));
        EXPECT_TRUE(QueryAs<IAMAudioInputMixer>(pin.Get()));
    }
    EXPECT_EQ(inputs, (std::vector<std::wstring>{L"Microphone", L"Line In", L"CD"}));
    // The source has none of these ports: none is selected, and selecting one fails.
    auto mic = QueryAs<IAMAudioInputMixer>(FindPinByIndex(filter.Get(), PINDIR_INPUT, 1).Get());
    BOOL enabled = TRUE;
    ASSERT_EQ(mic->get_Enable(&enabled), S_OK);
    EXPECT_FALSE(enabled);
    EXPECT_EQ(mic->put_Enable(TRUE), E_FAIL);
    EXPECT_EQ(mic->put_Enable(FALSE), S_OK);  // off already
    EXPECT_EQ(SourceMute(sink.monitor()), false);
    double level = -1;
    EXPECT_EQ(mic->put_MixLevel(-0.1), E_INVALIDARG);
    ASSERT_EQ(mic->put_MixLevel(0.25), S_OK);
    ASSERT_EQ(mic->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.25, 1e-4);
    EXPECT_EQ(mic->put_Mono(TRUE), E_NOTIMPL);

    auto capture = FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 1);
    ASSERT_TRUE(capture);
    EXPECT_EQ(PinName(capture.Get()), L"Capture");
    EXPECT_FALSE(FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 2));
    GUID category = GUID_NULL;
    ASSERT_EQ(QueryAs<IPinCategory>(capture.Get())->GetCategory(&category), S_OK);
    EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
    auto config = QueryAs<IAMStreamConfig>(capture.Get());
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 36);
    EXPECT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
    AUDIO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config->GetStreamCaps(35, &type, reinterpret_cast<BYTE*>(&caps)), S_OK);
    WAVEFORMATEX last{};
    std::memcpy(&last, type->pbFormat, sizeof last);
    DeleteMediaType(type);
    EXPECT_EQ(last.nSamplesPerSec, 8000u);
    EXPECT_EQ(last.nChannels, 1);
    EXPECT_EQ(last.wBitsPerSample, 8);
    EXPECT_EQ(caps.MaximumSampleFrequency, 48000u);
    EXPECT_EQ(config->GetStreamCaps(36, &type, reinterpret_cast<BYTE*>(&caps)), S_FALSE);

    // Formats that would be misread are refused; PCM never carries extra bytes.
    auto offer = [&](WAVEFORMATEX format) {
        MediaType mt = PcmMediaType(8000, 1, 8);
        mt.SetFormat(&format, sizeof format);
        return config->SetFormat(&mt);
    };
    WAVEFORMATEX wrongAlign = MakePcmFormat(22050, 2, 16, 18);
    wrongAlign.nBlockAlign = 2;
    EXPECT_EQ(offer(wrongAlign), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(offer(MakePcmFormat(22050, 2, 32)), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(offer(MakePcmFormat(96000, 2, 16)), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(offer(MakePcmFormat(22050, 3, 16)), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(nullptr), VFW_E_INVALIDMEDIATYPE);
    ASSERT_EQ(offer(MakePcmFormat(22050, 1, 16, 18)), S_OK);
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    WAVEFORMATEX now{};
    std::memcpy(&now, type->pbFormat, sizeof now);
    DeleteMediaType(type);
    EXPECT_EQ(now.nSamplesPerSec, 22050u);
    EXPECT_EQ(now.cbSize, 0);

    auto negotiation = QueryAs<IAMBufferNegotiation>(capture.Get());
    ALLOCATOR_PROPERTIES props{};
    EXPECT_EQ(negotiation->GetAllocatorProperties(&props), E_FAIL);  // nothing decided yet
    ALLOCATOR_PROPERTIES wanted{8, 4410, 1, 0};
    ASSERT_EQ(negotiation->SuggestAllocatorProperties(&wanted), S_OK);
    ASSERT_EQ(negotiation->GetAllocatorProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, 4410);

    ComPtr<ISpecifyPropertyPages> pages = QueryAs<ISpecifyPropertyPages>(filter.Get());
    ASSERT_TRUE(pages);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_AudioCapturePropertyPage);
    CoTaskMemFree(list.pElems);
}

struct CaptureGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> device;
    ComPtr<RecordingSink> sink;
    ComPtr<IPin> capture;

    CaptureGraph(const std::string& source, int holdMs) {
        graph::RegisterGraphClasses();
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                         IID_PPV_ARGS(graph.Put()));
        control = QueryAs<IMediaControl>(graph.Get());
        device = BindDevice(source);
        sink = MakeCom<RecordingSink>(holdMs);
        if (!graph || !device) return;
        graph->AddFilter(device.Get(), L"Audio Capture Filter");
        graph->AddFilter(sink.Get(), L"Sink");
        capture = FindPinByIndex(device.Get(), PINDIR_OUTPUT, 1);
    }
    bool Connect() {
        auto input = FindPinByIndex(sink.Get(), PINDIR_INPUT, 1);
        return capture && input && SUCCEEDED(graph->Connect(capture.Get(), input.Get()));
    }
    ~CaptureGraph() {
        if (control) control->Stop();
    }
};

TEST(CaptureFilter, TimesRunFromZeroAndTheEndReachesTheSink) {
    NEED_PULSE();
    NullSink sink("times");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    CaptureGraph graph(sink.monitor(), 0);
    ASSERT_TRUE(graph.Connect());
    ASSERT_EQ(graph.control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto control = QueryAs<IAudioCaptureControl>(graph.capture.Get());
    ASSERT_EQ(control->DeliverPending(3000), S_OK);
    LONG code = 0;
    auto events = QueryAs<IMediaEventEx>(graph.graph.Get());
    EXPECT_EQ(events->WaitForCompletion(2000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_TRUE(graph.sink->ended);
    REFERENCE_TIME latency = -1;
    ASSERT_EQ(control->GetLatency(&latency), S_OK);
    EXPECT_GE(latency, 0);
    graph.control->Stop();

    std::lock_guard lock(graph.sink->mutex);
    auto& times = graph.sink->times;
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front().first, 0);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i].first, times[i - 1].second);
    // Everything up to the stop arrived: about 1.5 s of 44100 Hz stereo 16-bit.
    EXPECT_NEAR(graph.sink->bytes / 176400.0, 1.5, 0.15);
    ULONG overruns = 99;
    LONGLONG lost = -1;
    ASSERT_EQ(control->GetOverruns(&overruns, &lost), S_OK);
    EXPECT_EQ(overruns, 0u);
    EXPECT_EQ(lost, 0);
}

TEST(CaptureFilter, AGraphThatFallsBehindCountsTheLostAudio) {
    NEED_PULSE();
    NullSink sink("overrun");
    TonePlayer tone(sink.name(), 1000.0);
    ASSERT_TRUE(tone.WaitAudible());
    // The sink holds each sample for six seconds; the buffer holds four.
    CaptureGraph graph(sink.monitor(), 6000);
    ASSERT_TRUE(graph.Connect());
    ASSERT_EQ(graph.control->Run(), S_OK);
    auto control = QueryAs<IAudioCaptureControl>(graph.capture.Get());
    ULONG overruns = 0;
    LONGLONG lost = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (overruns == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        control->GetOverruns(&overruns, &lost);
    }
    EXPECT_EQ(overruns, 1u);
    EXPECT_GT(lost, 0);
    graph.control->Stop();
}

TEST(CaptureFilter, StartingOnAVanishedSourceFails) {
    NEED_PULSE();
    auto sink = std::make_unique<NullSink>("vanish");
    CaptureGraph graph(sink->monitor(), 0);
    ASSERT_TRUE(graph.Connect());
    sink->Unload();
    EXPECT_TRUE(FAILED(graph.control->Run()));
}

}  // namespace
}  // namespace quil::test
