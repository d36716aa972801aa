// The CD track source through its registered plug-in, on disc images read by Sectorlink.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <thread>

#include "cdsource/tests/cd_test_util.h"
#include "platform/registry/registry.h"

namespace {

namespace fs = std::filesystem;
using quil::ComPtr;
using quil::MakeCom;
using quil::QueryAs;
using quil::test::CdImage;
using quil::test::CdImageTrack;
using quil::test::RecordingSink;

constexpr uint32_t kSectorBytes = 2352;
constexpr int64_t kSectorTime = 133084;

class TrackSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoFreeUnusedLibraries();
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("discs");
    }
    void TearDown() override {
        graph_ = nullptr;
        CoFreeUnusedLibraries();
    }

    ComPtr<IBaseFilter> NewFilter() {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(CoCreateInstance(CLSID_CdTrackSource, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(filter.Put())),
                  S_OK);
        return filter;
    }

    // One image per test as the first virtual drive; returns its letter.
    int Mount(const CdImage& image) { return quil::test::MountImages({image.cue})[0]; }

    // A graph of the filter and a recording sink, connected.
    void Connect(IBaseFilter* filter) {
        graph_ = quil::test::NewGraph();
        sink_ = MakeCom<RecordingSink>();
        ASSERT_EQ(graph_->AddFilter(filter, L"CD Source"), S_OK);
        ASSERT_EQ(graph_->AddFilter(sink_.Get(), L"Sink"), S_OK);
        auto out = quil::FindPinByIndex(filter, PINDIR_OUTPUT, 1);
        auto in = quil::FindPinByIndex(sink_.Get(), PINDIR_INPUT, 1);
        ASSERT_TRUE(out && in);
        ASSERT_EQ(graph_->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
    }

    // Runs the graph to its end; the event code.
    LONG RunToEnd() {
        auto control = QueryAs<IMediaControl>(graph_.Get());
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        LONG code = quil::test::WaitForEnd(graph_.Get());
        return code;
    }
    void Stop() { QueryAs<IMediaControl>(graph_.Get())->Stop(); }

    fs::path dir_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<RecordingSink> sink_;
};

TEST_F(TrackSourceTest, RegistersBothClassesAndTheFilterMerit) {
    using quil::registry::Key;
    using quil::registry::Root;
    auto filterKey =
        Key::Open(Root::ClassesRoot, "CLSID\\" + quil::GuidToString(CLSID_CdTrackSource));
    ASSERT_TRUE(filterKey);
    EXPECT_EQ(filterKey->ReadString(""), "Ostrel Sectorreel Source");
    auto server = filterKey->OpenSubKey("InprocServer32");
    ASSERT_TRUE(server);
    EXPECT_TRUE(fs::equivalent(*server->ReadString(""), TRACKPUMP_PATH));
    EXPECT_EQ(server->ReadString("ThreadingModel"), "Both");
    auto pageKey = Key::Open(Root::ClassesRoot,
                             "CLSID\\" + quil::GuidToString(CLSID_CdTrackSourcePropertyPage));
    ASSERT_TRUE(pageKey);
    EXPECT_EQ(pageKey->ReadString(""), "Ostrel Sectorreel Source Filter Properties");
    EXPECT_EQ(pageKey->OpenSubKey("InprocServer32")->ReadString("ThreadingModel"), "Both");
    std::string instance = "CLSID\\{083863F1-70DE-11D0-BD40-00AA00B33700}\\Instance\\" +
                           quil::GuidToString(CLSID_CdTrackSource);
    auto mapper = Key::Open(Root::ClassesRoot, instance);
    ASSERT_TRUE(mapper);
    EXPECT_EQ(mapper->ReadDword("Merit"), 0x600000u);
    EXPECT_TRUE(
        mapper->OpenSubKey("Pins\\Wave Stream\\Types\\" + quil::GuidToString(MEDIATYPE_Audio)));

    ASSERT_EQ(quil::test::CallTrackpump("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(Key::Open(Root::ClassesRoot, "CLSID\\" + quil::GuidToString(CLSID_CdTrackSource)));
    EXPECT_FALSE(Key::Open(Root::ClassesRoot, instance));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(CLSID_CdTrackSource, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(filter.Put())),
              REGDB_E_CLASSNOTREG);
}

TEST_F(TrackSourceTest, UnloadsOnceTheLastFilterIsGone) {
    auto filter = NewFilter();
    ASSERT_TRUE(filter);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(quil::test::TrackpumpLoaded());
    filter = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(quil::test::TrackpumpLoaded());
}

TEST_F(TrackSourceTest, OffersOnePinWithTheOutputFormatAndNamesItsPage) {
    auto filter = NewFilter();
    auto pin = quil::FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 1);
    ASSERT_TRUE(pin);
    EXPECT_FALSE(quil::FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 2));
    EXPECT_FALSE(quil::FindPinByIndex(filter.Get(), PINDIR_INPUT, 1));
    EXPECT_EQ(quil::PinName(pin.Get()), L"Wave Stream");

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
    EXPECT_EQ(type->majortype, MEDIATYPE_Audio);
    EXPECT_EQ(type->subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(type->formattype, FORMAT_WaveFormatEx);
    ASSERT_EQ(type->cbFormat, 18u);
    auto* format = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(format->cbSize, 18);
    DeleteMediaType(type);
    EXPECT_EQ(types->Next(1, &type, &fetched), S_FALSE);

    auto source = QueryAs<ICdTrackSource>(filter.Get());
    uint32_t words[5];
    ASSERT_EQ(source->GetOutputFormat(&words[0], &words[1], &words[2], &words[3], &words[4]), S_OK);
    EXPECT_EQ(words[0], 1u | 2u << 16);
    EXPECT_EQ(words[3], 4u | 16u << 16);
    EXPECT_EQ(words[4], 18u);

    auto pages = QueryAs<ISpecifyPropertyPages>(filter.Get());
    ASSERT_TRUE(pages);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_CdTrackSourcePropertyPage);
    CoTaskMemFree(list.pElems);
    EXPECT_TRUE(QueryAs<ICdDoorLock>(filter.Get()));
    EXPECT_TRUE(QueryAs<ICdTrackPosition>(filter.Get()));
}

TEST_F(TrackSourceTest, WithoutADriveAnswersFalseConnectsButCannotStream) {
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    int32_t kind = 7, count = -1, value = 9;
    EXPECT_EQ(source->GetDiscKind(&kind), S_FALSE);
    EXPECT_EQ(kind, 7);
    EXPECT_EQ(source->GetTrackCount(&count), S_FALSE);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(source->GetTrackInfo(1, &value, &value, &value, &value, &value, &value, &value),
              S_FALSE);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(source->MoveDoor(1), S_FALSE);
    EXPECT_EQ(source->GetReadCapability(&value), E_FAIL);
    EXPECT_EQ(source->SetCurrentTrack(3), S_OK);
    EXPECT_EQ(QueryAs<ICdDoorLock>(filter.Get())->LockDoor(1), S_FALSE);
    EXPECT_EQ(source->SetDrive('Q'), S_FALSE);

    Connect(filter.Get());
    auto control = QueryAs<IMediaControl>(graph_.Get());
    EXPECT_TRUE(FAILED(control->Pause()));
    control->Stop();
}

TEST_F(TrackSourceTest, ClassifiesDiscsAndDescribesTracks) {
    // 4 minutes 33 seconds 12 frames, then a track with a pregap and a data track.
    constexpr uint32_t kLong = 4 * 4500 + 33 * 75 + 12;
    auto mixed = quil::test::WriteCdImage(
        dir_, "mixed", {{true, 0, kLong, 440}, {true, 0, 300, 0}, {false, 0, 200, 0}});
    auto data = quil::test::WriteCdImage(dir_, "data", {{false, 0, 300, 0}});
    auto letters = quil::test::MountImages({mixed.cue, data.cue});

    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetDrive(letters[0]), S_OK);
    int32_t kind = -1, count = -1;
    EXPECT_EQ(source->GetDiscKind(&kind), S_OK);
    EXPECT_EQ(kind, 1);  // audio wins over data
    EXPECT_EQ(source->GetTrackCount(&count), S_OK);
    EXPECT_EQ(count, 3);

    int32_t h = -1, m = -1, s = -1, f = -1, ms = -1, first = -1, length = -1;
    ASSERT_EQ(source->GetTrackInfo(1, &h, &m, &s, &f, &ms, &first, &length), S_OK);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(m, 4);
    EXPECT_EQ(s, 33);
    EXPECT_EQ(f, 12);
    EXPECT_EQ(ms, 273012);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(length, static_cast<int32_t>(kLong));
    ASSERT_EQ(source->GetTrackInfo(2, &h, &m, &s, &f, &ms, &first, &length), S_OK);
    EXPECT_EQ(first, static_cast<int32_t>(kLong));
    EXPECT_EQ(length, 300);

    // Lower case names the same drive; a second SetDrive replaces the first.
    ASSERT_EQ(source->SetDrive(letters[1] | 0x20), S_OK);
    EXPECT_EQ(source->GetDiscKind(&kind), S_OK);
    EXPECT_EQ(kind, 2);
    EXPECT_EQ(source->SetDrive('Z'), S_FALSE);
    EXPECT_EQ(source->GetTrackCount(&count), S_FALSE);

    auto position = QueryAs<ICdTrackPosition>(filter.Get());
    double seconds = -1;
    EXPECT_EQ(position->SectorsToSeconds(kLong, &seconds), S_OK);
    EXPECT_EQ(seconds, 273.0);
    // Longer than 127 minutes, as on an audio DVD, still counts right.
    EXPECT_EQ(position->SectorsToSeconds(130 * 4500 + 75 * 7, &seconds), S_OK);
    EXPECT_EQ(seconds, 130 * 60 + 7.0);
}

TEST_F(TrackSourceTest, SectorsPerReadStaysWithinTheDeliveryBuffer) {
    auto image = quil::test::WriteCdImage(dir_, "one", {{true, 0, 100, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    uint32_t sectors = 0;
    EXPECT_EQ(source->GetSectorsPerRead(&sectors), S_OK);
    EXPECT_EQ(sectors, 1u);
    EXPECT_EQ(source->SetSectorsPerRead(16), S_OK);
    EXPECT_EQ(source->SetSectorsPerRead(17), E_INVALIDARG);
    EXPECT_EQ(source->SetSectorsPerRead(0), E_INVALIDARG);
    EXPECT_EQ(source->GetSectorsPerRead(&sectors), S_OK);
    EXPECT_EQ(sectors, 16u);

    // The image can take 26 sectors a read; the filter reports what its buffer can hold.
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    int32_t capability = 0;
    EXPECT_EQ(source->GetReadCapability(&capability), S_OK);
    EXPECT_EQ(capability, 16);
}

// Reads one whole track with several read sizes: the samples carry exactly the track's bytes,
// time stamps run on from 0, and positions read 0 again once the stream stops.
TEST_F(TrackSourceTest, StreamsExactlyTheTracksBytes) {
    constexpr uint32_t kLength = 200;
    auto image = quil::test::WriteCdImage(
        dir_, "pattern", {{true, 0, 40, 0}, {true, 0, kLength, 0}, {true, 0, 30, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    auto position = QueryAs<ICdTrackPosition>(filter.Get());
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    ASSERT_EQ(source->SetCurrentTrack(2), S_OK);
    Connect(filter.Get());
    auto expected = quil::test::BinSectors(image, 40, kLength);

    for (uint32_t perRead : {1u, 7u, 16u}) {
        SCOPED_TRACE("sectors per read " + std::to_string(perRead));
        ASSERT_EQ(source->SetSectorsPerRead(perRead), S_OK);
        ASSERT_EQ(RunToEnd(), EC_COMPLETE);
        uint32_t current = 0, start = 0, length = 0;
        position->GetCurrentSector(&current);
        position->GetTrackStart(&start);
        position->GetTrackLength(&length);
        EXPECT_EQ(start, 40u);
        EXPECT_EQ(length, kLength);
        // The end of the track, never past it: progress stops at exactly 1.0.
        EXPECT_EQ(current, start + length);
        Stop();

        auto samples = sink_->Take();
        // L/n samples when n divides L, else floor(L/n) + 1, the last one shorter.
        ASSERT_EQ(samples.size(), (kLength + perRead - 1) / perRead);
        std::vector<uint8_t> joined;
        REFERENCE_TIME time = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto& sample = samples[i];
            uint32_t sectors =
                std::min<uint32_t>(perRead, kLength - static_cast<uint32_t>(i) * perRead);
            EXPECT_EQ(sample.data.size(), sectors * kSectorBytes) << i;
            EXPECT_TRUE(sample.timed && sample.sync);
            EXPECT_EQ(sample.start, time) << i;
            EXPECT_EQ(sample.end, time + sectors * kSectorTime) << i;
            time = sample.end;
            joined.insert(joined.end(), sample.data.begin(), sample.data.end());
        }
        EXPECT_TRUE(joined == expected);

        position->GetCurrentSector(&current);
        position->GetTrackStart(&start);
        position->GetTrackLength(&length);
        EXPECT_EQ(current, 0u);
        EXPECT_EQ(start, 0u);
        EXPECT_EQ(length, 0u);
        // Outside streaming the clamp range is [0, 0].
        EXPECT_EQ(position->SetCurrentSector(90), S_OK);
        position->GetCurrentSector(&current);
        EXPECT_EQ(current, 0u);
    }
    uint32_t unreadable = 99;
    EXPECT_EQ(QueryAs<ICdReadErrors>(filter.Get())->GetUnreadableSectors(&unreadable), S_OK);
    EXPECT_EQ(unreadable, 0u);
}

// While paused the sink holds the first sample, so the stream stands still and the position can
// be moved before the rest is read.
TEST_F(TrackSourceTest, SetCurrentSectorClampsIntoTheTrack) {
    constexpr uint32_t kStart = 30, kLength = 100, kPerRead = 4;
    auto image =
        quil::test::WriteCdImage(dir_, "seek", {{true, 0, kStart, 0}, {true, 0, kLength, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    auto position = QueryAs<ICdTrackPosition>(filter.Get());
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    source->SetCurrentTrack(2);
    source->SetSectorsPerRead(kPerRead);
    Connect(filter.Get());
    auto control = QueryAs<IMediaControl>(graph_.Get());

    struct Case {
        uint32_t target, expected;
        size_t samplesAfter;
    };
    // Below the start means the start; past the end means the end, where the stream ends.
    for (Case c :
         {Case{0, kStart, 25}, Case{kStart + 50, kStart + 50, 13},
          Case{100000, kStart + kLength, 0}, Case{kStart + kLength - 1, kStart + kLength - 1, 1}}) {
        SCOPED_TRACE(c.target);
        ASSERT_TRUE(SUCCEEDED(control->Pause()));
        uint32_t current = 0, start = 0;
        for (int i = 0; i < 500 && current != kStart + kPerRead; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            position->GetCurrentSector(&current);
        }
        position->GetTrackStart(&start);
        ASSERT_EQ(start, kStart);
        ASSERT_EQ(current, kStart + kPerRead);  // the first read is done and held
        EXPECT_EQ(position->SetCurrentSector(c.target), S_OK);
        position->GetCurrentSector(&current);
        EXPECT_EQ(current, c.expected);
        ASSERT_EQ(RunToEnd(), EC_COMPLETE);
        Stop();
        auto samples = sink_->Take();
        ASSERT_EQ(samples.size(), 1 + c.samplesAfter);
        if (c.samplesAfter) {
            // The read after the move starts at the new sector, its time stamps run on.
            EXPECT_TRUE(samples[1].data ==
                        quil::test::BinSectors(image, c.expected,
                                               std::min(kPerRead, kStart + kLength - c.expected)));
            EXPECT_EQ(samples[1].start, samples[0].end);
        }
    }
}

// Converted output is as long as the track at the new rate and carries the tone unbroken.
TEST_F(TrackSourceTest, ConvertsToTheOutputFormat) {
    constexpr uint32_t kLength = 375;  // 5 seconds
    auto image = quil::test::WriteCdImage(dir_, "tone", {{true, 0, kLength, 1000}});
    int letter = Mount(image);

    struct Case {
        uint32_t rate, channels, bits;
    };
    for (Case c : {Case{48000, 2, 16}, Case{11025, 1, 8}, Case{22050, 2, 16}}) {
        SCOPED_TRACE(c.rate);
        auto filter = NewFilter();
        auto source = QueryAs<ICdTrackSource>(filter.Get());
        ASSERT_EQ(source->SetDrive(letter), S_OK);
        source->SetCurrentTrack(1);
        source->SetSectorsPerRead(16);
        uint32_t align = c.channels * c.bits / 8;
        ASSERT_EQ(source->SetOutputFormat(1 | c.channels << 16, c.rate, c.rate * align,
                                          align | c.bits << 16, 18),
                  S_OK);
        Connect(filter.Get());
        ASSERT_EQ(RunToEnd(), EC_COMPLETE);
        Stop();
        auto samples = sink_->Take();
        size_t bytes = 0;
        for (const auto& sample : samples) {
            EXPECT_EQ(sample.data.size() % align, 0u);
            EXPECT_LE(sample.data.size(), static_cast<size_t>(sample.capacity));
            bytes += sample.data.size();
        }
        uint64_t expectedFrames = uint64_t{kLength} * 588 * c.rate / 44100;
        EXPECT_NEAR(static_cast<double>(bytes / align), static_cast<double>(expectedFrames), 2.0);

        // Count the tone's cycles in the first channel: 1000 Hz for 5 seconds.
        std::vector<double> values;
        for (const auto& sample : samples)
            for (size_t i = 0; i + align <= sample.data.size(); i += align)
                values.push_back(
                    c.bits == 8
                        ? (sample.data[i] - 128) / 128.0
                        : static_cast<int16_t>(sample.data[i] | sample.data[i + 1] << 8) / 32768.0);
        int rising = 0;
        double sumSquares = 0;
        for (size_t i = 1; i < values.size(); ++i) {
            if (values[i - 1] < 0 && values[i] >= 0) ++rising;
            sumSquares += values[i] * values[i];
        }
        EXPECT_NEAR(rising, 5000, 3);
        EXPECT_NEAR(std::sqrt(sumSquares / values.size()), 0.5 / std::sqrt(2.0), 0.02);
        graph_ = nullptr;
    }
}

TEST_F(TrackSourceTest, RefusesAFormatItCannotProduce) {
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetOutputFormat(1 | 2 << 16, 44100, 44100 * 6, 6 | 24 << 16, 18), S_OK);
    graph_ = quil::test::NewGraph();
    sink_ = MakeCom<RecordingSink>();
    graph_->AddFilter(filter.Get(), L"CD Source");
    graph_->AddFilter(sink_.Get(), L"Sink");
    auto out = quil::FindPinByIndex(filter.Get(), PINDIR_OUTPUT, 1);
    auto in = quil::FindPinByIndex(sink_.Get(), PINDIR_INPUT, 1);
    EXPECT_TRUE(FAILED(graph_->ConnectDirect(out.Get(), in.Get(), nullptr)));
}

TEST_F(TrackSourceTest, AMissingTrackDoesNotStart) {
    auto image = quil::test::WriteCdImage(dir_, "short", {{true, 0, 50, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    source->SetCurrentTrack(5);
    Connect(filter.Get());
    auto control = QueryAs<IMediaControl>(graph_.Get());
    EXPECT_TRUE(FAILED(control->Pause()));
    control->Stop();
}

// A disc image cannot lock its tray: the stream goes on unlocked and reads the right track.
TEST_F(TrackSourceTest, StreamsWhenTheTrayCannotBeLocked) {
    auto image = quil::test::WriteCdImage(dir_, "nolock", {{true, 0, 20, 0}, {true, 0, 20, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    EXPECT_EQ(QueryAs<ICdDoorLock>(filter.Get())->LockDoor(1), S_FALSE);
    source->SetCurrentTrack(2);
    source->SetSectorsPerRead(5);
    Connect(filter.Get());
    ASSERT_EQ(RunToEnd(), EC_COMPLETE);
    Stop();
    EXPECT_TRUE(sink_->Joined() == quil::test::BinSectors(image, 20, 20));
}

// Sectors the image no longer holds cannot be read: they go out as silence, and the filter
// counts them. (The cut falls between reads: libcdio reports a read that the BIN ends inside of
// as complete.)
TEST_F(TrackSourceTest, CountsSectorsThatCannotBeRead) {
    constexpr uint32_t kLength = 64, kKept = 48;
    auto image = quil::test::WriteCdImage(dir_, "damaged", {{true, 0, kLength, 0}});
    auto filter = NewFilter();
    auto source = QueryAs<ICdTrackSource>(filter.Get());
    ASSERT_EQ(source->SetDrive(Mount(image)), S_OK);
    fs::resize_file(image.bin, uint64_t{kKept} * kSectorBytes);
    source->SetCurrentTrack(1);
    source->SetSectorsPerRead(8);
    Connect(filter.Get());
    ASSERT_EQ(RunToEnd(), EC_COMPLETE);
    Stop();
    auto joined = sink_->Joined();
    ASSERT_EQ(joined.size(), size_t{kLength} * kSectorBytes);
    auto kept = quil::test::BinSectors(image, 0, kKept);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), joined.begin()));
    EXPECT_TRUE(
        std::all_of(joined.begin() + kept.size(), joined.end(), [](uint8_t b) { return b == 0; }));
    uint32_t unreadable = 0;
    EXPECT_EQ(QueryAs<ICdReadErrors>(filter.Get())->GetUnreadableSectors(&unreadable), S_OK);
    EXPECT_EQ(unreadable, kLength - kKept);
}

}  // namespace
