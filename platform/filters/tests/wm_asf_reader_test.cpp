#include <chrono>
#include <cstring>
#include <thread>

#include "platform/filters/class_ids.h"
#include "platform/filters/tests/media_test_util.h"
#include "platform/wmf/header_info.h"
#include "platform/wmf/reader_interfaces.h"
#include "testsupport/http_server.h"

namespace quil::test {
namespace {

std::string TaggedWma() {
    return MediaFixture("tagged.wma", ToneInput(44100, 10) +
                                          " -c:a wmav2 -b:a 128k -metadata title=\"Night Grab\""
                                          " -metadata artist=\"Ada Corvane\"");
}

ComPtr<IBaseFilter> CreateReader(const CLSID& clsid = CLSID_WMAsfReader) {
    filters::RegisterStockFilters();
    ComPtr<IBaseFilter> reader;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(reader.Put())),
              S_OK);
    return reader;
}

HRESULT Load(IBaseFilter* reader, const std::string& location) {
    return QueryAs<IFileSourceFilter>(reader)->Load(Widen(location).c_str(), nullptr);
}

// The two-call protocol: the length in bytes first, then the text.
std::wstring TextAttribute(IBaseFilter* reader, const wchar_t* name) {
    auto header = QueryAs<IWMHeaderInfo>(reader);
    WORD stream = 0, length = 0;
    WMT_ATTR_DATATYPE type{};
    if (header->GetAttributeByName(&stream, name, &type, nullptr, &length) != S_OK) return L"?";
    EXPECT_EQ(type, WMT_TYPE_STRING);
    EXPECT_EQ(length % sizeof(WCHAR), 0u);
    std::vector<BYTE> value(length);
    EXPECT_EQ(header->GetAttributeByName(&stream, name, &type, value.data(), &length), S_OK);
    std::wstring text(reinterpret_cast<const WCHAR*>(value.data()), length / sizeof(WCHAR));
    EXPECT_EQ(text.back(), L'\0');
    text.pop_back();
    return text;
}

// Renders the reader's audio into a capture sink in a graph and plays it to its end.
struct ReaderGraph {
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<IBaseFilter> reader;
    ComPtr<CaptureSink> sink;

    explicit ReaderGraph(const CLSID& clsid = CLSID_WMAsfReader) : reader(CreateReader(clsid)) {
        EXPECT_EQ(graph->AddFilter(reader.Get(), L"windows media source filter"), S_OK);
    }
    void ConnectAudio() {
        sink = AddCaptureSink(graph.Get());
        ASSERT_EQ(graph->Connect(OutputPinOf(reader.Get(), MEDIATYPE_Audio).Get(), sink->Input()),
                  S_OK);
    }
};

TEST(WmAsfReader, BothClassesLoadLocalFilesAndReadTheirTags) {
    for (const CLSID& clsid : {CLSID_WMAsfReader, CLSID_WMSourceFilter}) {
        ReaderGraph g(clsid);
        ASSERT_EQ(Load(g.reader.Get(), TaggedWma()), S_OK);
        EXPECT_EQ(TextAttribute(g.reader.Get(), L"Title"), L"Night Grab");
        EXPECT_EQ(TextAttribute(g.reader.Get(), L"Author"), L"Ada Corvane");
        EXPECT_EQ(TextAttribute(g.reader.Get(), L"title"), L"Night Grab");
        LPWSTR file = nullptr;
        EXPECT_EQ(QueryAs<IFileSourceFilter>(g.reader.Get())->GetCurFile(&file, nullptr), S_OK);
        EXPECT_EQ(std::wstring(file), Widen(TaggedWma()));
        CoTaskMemFree(file);
        g.ConnectAudio();
        EXPECT_EQ(RunToEnd(g.graph.Get()).code, EC_COMPLETE);
        EXPECT_NEAR(g.sink->Seconds(), 10.0, 0.1);
    }
}

TEST(WmAsfReader, HeaderInfoFollowsTheProtocol) {
    auto reader = CreateReader();
    auto header = QueryAs<IWMHeaderInfo>(reader.Get());
    WORD stream = 0, length = 0;
    WMT_ATTR_DATATYPE type{};
    EXPECT_TRUE(FAILED(header->GetAttributeByName(&stream, L"Title", &type, nullptr, &length)));
    ASSERT_EQ(Load(reader.Get(), TaggedWma()), S_OK);
    EXPECT_EQ(Load(reader.Get(), TaggedWma()), E_UNEXPECTED);

    ASSERT_EQ(header->GetAttributeByName(&stream, L"Title", &type, nullptr, &length), S_OK);
    EXPECT_EQ(length, (std::wcslen(L"Night Grab") + 1) * sizeof(WCHAR));
    std::vector<BYTE> small(4);
    WORD smallLength = 4;
    EXPECT_EQ(header->GetAttributeByName(&stream, L"Title", &type, small.data(), &smallLength),
              ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(smallLength, length);
    EXPECT_EQ(header->GetAttributeByName(&stream, L"WM/NoSuchThing", &type, nullptr, &length),
              ASF_E_NOTFOUND);

    QWORD duration = 0;
    length = sizeof duration;
    ASSERT_EQ(header->GetAttributeByName(&stream, L"Duration", &type,
                                         reinterpret_cast<BYTE*>(&duration), &length),
              S_OK);
    EXPECT_EQ(type, WMT_TYPE_QWORD);
    EXPECT_NEAR(duration / 1e7, 10.0, 0.1);
    WORD count = 0;
    EXPECT_EQ(header->GetAttributeCount(0, &count), S_OK);
    EXPECT_GE(count, 4);
}

TEST(WmAsfReader, ReaderControlsAnswer) {
    auto reader = CreateReader();
    auto advanced = QueryAs<IWMReaderAdvanced2>(reader.Get());
    ASSERT_TRUE(advanced);
    DWORD percent = 0;
    QWORD buffering = 0;
    EXPECT_TRUE(FAILED(advanced->GetBufferProgress(&percent, &buffering)));
    ASSERT_EQ(Load(reader.Get(), TaggedWma()), S_OK);
    EXPECT_EQ(advanced->SetPlayMode(WMT_PLAY_MODE_STREAMING), S_OK);
    WMT_PLAY_MODE mode{};
    EXPECT_EQ(advanced->GetPlayMode(&mode), S_OK);
    EXPECT_EQ(mode, WMT_PLAY_MODE_STREAMING);
    EXPECT_EQ(advanced->GetBufferProgress(&percent, &buffering), S_OK);
    EXPECT_EQ(percent, 100u);
    WM_READER_STATISTICS statistics{};
    statistics.cbSize = sizeof statistics;
    EXPECT_EQ(advanced->GetStatistics(&statistics), S_OK);
    EXPECT_EQ(static_cast<IWMReaderAdvanced*>(advanced.Get())->NotifyLateDelivery(0), S_OK);
}

// A local HTTP server feeds the reader through an http:// URL, as a network stream.
TEST(WmAsfReader, PlaysAStreamFromHttp) {
    auto bytes = ReadFile(TaggedWma());
    HttpServer server;
    server.Handle("/live.wma", HttpReply(200, std::string(bytes.begin(), bytes.end())));
    ReaderGraph g;
    ASSERT_EQ(Load(g.reader.Get(), server.Url("/live.wma")), S_OK);
    auto advanced = QueryAs<IWMReaderAdvanced2>(g.reader.Get());
    EXPECT_EQ(advanced->SetPlayMode(WMT_PLAY_MODE_STREAMING), S_OK);
    EXPECT_EQ(TextAttribute(g.reader.Get(), L"Title"), L"Night Grab");
    EXPECT_EQ(TextAttribute(g.reader.Get(), L"Author"), L"Ada Corvane");
    g.ConnectAudio();
    EXPECT_EQ(RunToEnd(g.graph.Get()).code, EC_COMPLETE);
    EXPECT_NEAR(g.sink->Seconds(), 10.0, 0.1);
    WM_READER_STATISTICS statistics{};
    EXPECT_EQ(advanced->GetStatistics(&statistics), S_OK);
    EXPECT_GT(statistics.cPacketsReceived, 10u);
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(server.Requests().front().target, "/live.wma");
}

// A stream that breaks off mid-way ends with EC_ERRORABORT and never reads as complete.
TEST(WmAsfReader, AStreamBreakingOffEndsWithErrorAbort) {
    auto bytes = ReadFile(TaggedWma());
    HttpServer server;
    server.Handle("/cut.wma", HttpDropMidBody(bytes.size(),
                                              std::string(bytes.begin(),
                                                          bytes.begin() + bytes.size() * 6 / 10)));
    ReaderGraph g;
    ASSERT_EQ(Load(g.reader.Get(), server.Url("/cut.wma")), S_OK);
    g.ConnectAudio();
    Ending ending = RunToEnd(g.graph.Get());
    EXPECT_EQ(ending.code, EC_ERRORABORT);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(ending.param1)));
    EXPECT_GT(g.sink->Seconds(), 3.0);
    WM_READER_STATISTICS statistics{};
    EXPECT_TRUE(FAILED(QueryAs<IWMReaderAdvanced2>(g.reader.Get())->GetStatistics(&statistics)));
}

// URLs reach only network protocols: file:// and friends are refused, directly or through a
// redirect.
TEST(WmAsfReader, RefusesLocalFilesThroughUrls) {
    auto reader = CreateReader();
    EXPECT_TRUE(FAILED(Load(reader.Get(), "file://" + TaggedWma())));
    EXPECT_TRUE(FAILED(Load(reader.Get(), "pipe:0")));
    // Not a URL, so a local path named "concat:...", which does not exist.
    EXPECT_TRUE(FAILED(Load(reader.Get(), "concat:" + TaggedWma() + "|" + TaggedWma())));
    HttpServer server;
    server.Handle("/moved.wma", HttpRedirect(302, "file://" + TaggedWma()));
    EXPECT_TRUE(FAILED(Load(reader.Get(), server.Url("/moved.wma"))));

    auto graph = NewGraph();
    ComPtr<IBaseFilter> source;
    EXPECT_TRUE(FAILED(
        graph->AddSourceFilter(Widen("file://" + TaggedWma()).c_str(), nullptr, source.Put())));
}

// A server that accepts and then says nothing fails the load after the read time-out; a port
// where nothing listens fails at once. Neither hangs.
TEST(WmAsfReader, DeadServersFailInsteadOfHanging) {
    HttpServer server;
    server.Handle("/silent.wma", HttpStallMidBody(1'000'000, ""));
    auto reader = CreateReader();
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(FAILED(Load(reader.Get(), server.Url("/silent.wma"))));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));

    auto other = CreateReader();
    EXPECT_TRUE(FAILED(Load(other.Get(), "http://127.0.0.1:1/gone.wma")));
}

// Buffer progress measures what the reader holds ahead of playback against its buffer window:
// a paused graph holds what the server sent, part of the window for a stalled stream, all of it
// for a stream read to its end.
TEST(WmAsfReader, BufferProgressFollowsWhatTheReaderHolds) {
    auto bytes = ReadFile(TaggedWma());
    HttpServer server;
    server.Handle("/stall.wma",
                  HttpStallMidBody(bytes.size(),
                                   std::string(bytes.begin(), bytes.begin() + bytes.size() / 4)));
    server.Handle("/whole.wma", HttpReply(200, std::string(bytes.begin(), bytes.end())));
    for (bool stalls : {true, false}) {
        SCOPED_TRACE(stalls ? "stalled stream" : "whole stream");
        ReaderGraph g;
        ASSERT_EQ(Load(g.reader.Get(), server.Url(stalls ? "/stall.wma" : "/whole.wma")), S_OK);
        g.ConnectAudio();
        auto advanced = QueryAs<IWMReaderAdvanced2>(g.reader.Get());
        DWORD percent = 0;
        QWORD buffering = 0;
        ASSERT_EQ(advanced->GetBufferProgress(&percent, &buffering), S_OK);
        EXPECT_EQ(percent, 0u);
        EXPECT_EQ(buffering, 50'000'000u);
        auto control = QueryAs<IMediaControl>(g.graph.Get());
        ASSERT_EQ(control->Pause(), S_OK);
        // About 2.5 s of the 10 s reach the reader before the stall; wait until it holds some.
        DWORD wanted = stalls ? 30 : 100;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            ASSERT_EQ(advanced->GetBufferProgress(&percent, &buffering), S_OK);
            if (percent >= wanted) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (stalls) {
            EXPECT_GE(percent, 30u);
            EXPECT_LT(percent, 100u);
            EXPECT_GT(buffering, 0u);
            EXPECT_NEAR(static_cast<double>(buffering), (100.0 - percent) * 500'000, 500'000);
        } else {
            EXPECT_EQ(percent, 100u);
            EXPECT_EQ(buffering, 0u);
        }
        EXPECT_EQ(control->Stop(), S_OK);
    }
}

// HLS playlists that name themselves, as a variant or as their own segments, end the opening
// after a bounded number of requests instead of requesting until the open deadline.
TEST(WmAsfReader, SelfNamingPlaylistsMakeBoundedRequests) {
    HttpServer server;
    server.Handle("/master.m3u8",
                  HttpReply(200, "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nmaster.m3u8\n"));
    std::string media = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (int i = 0; i < 500; ++i) media += "#EXTINF:1,\nmedia.m3u8\n";
    server.Handle("/media.m3u8", HttpReply(200, media + "#EXT-X-ENDLIST\n"));
    size_t before = 0;
    for (const char* path : {"/master.m3u8", "/media.m3u8"}) {
        SCOPED_TRACE(path);
        auto reader = CreateReader();
        EXPECT_TRUE(FAILED(Load(reader.Get(), server.Url(path))));
        size_t made = server.Requests().size() - before;
        before += made;
        EXPECT_GE(made, 2u);
        EXPECT_LE(made, 48u);  // the opening's allowance
    }
}

// Stopping a graph whose stream stalls returns promptly: the stalled read is interrupted.
TEST(WmAsfReader, StopInterruptsAStalledStream) {
    auto bytes = ReadFile(TaggedWma());
    HttpServer server;
    server.Handle("/stall.wma",
                  HttpStallMidBody(bytes.size(),
                                   std::string(bytes.begin(), bytes.begin() + bytes.size() / 2)));
    ReaderGraph g;
    ASSERT_EQ(Load(g.reader.Get(), server.Url("/stall.wma")), S_OK);
    g.ConnectAudio();
    auto control = QueryAs<IMediaControl>(g.graph.Get());
    ASSERT_EQ(control->Run(), S_OK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g.sink->Seconds() < 2.0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace quil::test
