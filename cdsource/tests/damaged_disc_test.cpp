// A damaged disc: every read command fails slowly. The test binary puts its own
// ReadRawDataSector in front of Sectorlink's (the plug-in resolves it through the program), so
// it can make the drive's commands fail and count them.

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cdsource/tests/cd_test_util.h"

namespace {

std::atomic<bool> g_damaged{false};
std::atomic<int> g_commands{0};

}  // namespace

extern "C" int ReadRawDataSector(DriveHandle drive, uint32_t firstSector, uint32_t sectorCount,
                                 void* buffer, int reserved1, int reserved2, uint32_t timeoutMs) {
    using Read = int (*)(DriveHandle, uint32_t, uint32_t, void*, int, int, uint32_t);
    static Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "ReadRawDataSector"));
    if (!g_damaged)
        return real(drive, firstSector, sectorCount, buffer, reserved1, reserved2, timeoutMs);
    ++g_commands;
    // A drive that fails a command takes a while to say so.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::memset(buffer, 0, size_t{sectorCount} * quil::test::kCdSectorBytes);
    return 0;
}

namespace {

using quil::ComPtr;
using quil::MakeCom;
using quil::QueryAs;

TEST(DamagedDisc, AStopEndsTheRetriesAfterAtMostTheCommandUnderWay) {
    CoFreeUnusedLibraries();
    ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
    auto dir = quil::test::MakeTempDir("damaged_disc");
    auto image = quil::test::WriteCdImage(dir, "scratched", {{true, 0, 750, 0}});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreateInstance(CLSID_CdTrackSource, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(filter.Put())),
              S_OK);
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetDrive(quil::test::MountImages({image.cue})[0]), S_OK);
    source->SetCurrentTrack(1);
    source->SetSectorsPerRead(16);
    auto graph = quil::test::NewGraph();
    auto sink = MakeCom<quil::test::RecordingSink>();
    ASSERT_EQ(graph->AddFilter(filter.Get(), L"CD Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    ASSERT_EQ(
        graph->ConnectDirect(quil::FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 1).Get(),
                             quil::FindPinByIndex(sink.Get(), PINDIR_INPUT, 1).Get(), nullptr),
        S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());

    g_damaged = true;
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    // Into the retries of the first read: whole-read retries, then sector by sector.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (g_commands < 6 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(g_commands.load(), 6);
    int before = g_commands;
    control->Stop();
    int during = g_commands - before;
    g_damaged = false;
    EXPECT_LE(during, 1) << "commands sent after the stop was asked for";
    // The sectors not tried are not counted as unreadable: the stop cut the read short.
    uint32_t unreadable = 0;
    EXPECT_EQ(QueryAs<ICdReadErrors>(filter.Get())->GetUnreadableSectors(&unreadable), S_OK);
    EXPECT_LT(unreadable, 16u);
    graph = nullptr;
    CoFreeUnusedLibraries();
}

}  // namespace
