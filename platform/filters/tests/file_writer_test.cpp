// The file writers gather small samples into large writes. These tests hold them to what that
// must not cost: every byte in order, bytes of a stream that stalls still reach the file, a
// killed process loses only the last fraction of a second, a failed write is still reported.

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/filters/tests/encoder_test_util.h"
#include "platform/filters/tests/graph_test_util.h"
#include "testsupport/test_support.h"

namespace quil::test {
namespace {

using Clock = std::chrono::steady_clock;

// 8 kHz mono 16-bit: the writers' 256 KiB buffer would hold 16 s of it.
constexpr int kRate = 8000;
constexpr uint64_t kBytesPerSecond = kRate * 2;

std::vector<uint8_t> ToneBytes(int rate, int channels, double seconds) {
    auto samples = SineSamples(rate, channels, seconds, 440.0, 0.5);
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

bool WaitForSize(const std::filesystem::path& file, uint64_t size) {
    auto deadline = Clock::now() + std::chrono::seconds(30);
    std::error_code error;
    while (Clock::now() < deadline) {
        if (std::filesystem::file_size(file, error) >= size && !error) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// What a paced source has handed on, kept in memory shared with the parent process.
struct DeliveryLog {
    static constexpr int kMax = 4096;
    std::atomic<int> count{0};
    struct Entry {
        int64_t at;  // steady clock, nanoseconds
        uint64_t bytes;
    } entries[kMax];

    // Bytes handed on before the time given.
    uint64_t BytesBefore(Clock::time_point when) const {
        int64_t limit = when.time_since_epoch() / std::chrono::nanoseconds(1);
        uint64_t bytes = 0;
        for (int i = 0, n = count.load(); i < n; ++i)
            if (entries[i].at < limit) bytes = entries[i].bytes;
        return bytes;
    }
};

DeliveryLog* SharedLog() {
    void* memory = ::mmap(nullptr, sizeof(DeliveryLog), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) DeliveryLog;
}

// A tone handed on in 50 ms blocks at the pace of the clock, as a sound card delivers. A block
// is logged when the next one is asked for: delivery is synchronous, so by then the writer
// has taken it.
class PacedTone : public SourceFilter {
public:
    static constexpr LONG kBlock = kBytesPerSecond / 20;

    explicit PacedTone(DeliveryLog* log)
        : SourceFilter(GUID_NULL), log_(log), tone_(ToneBytes(kRate, 1, 30)) {
        AddPin(std::make_unique<Pin>(this));
    }
    ~PacedTone() override {
        for (auto& pin : pins_) pin->Inactive();
    }
    const std::vector<uint8_t>& Tone() const { return tone_; }

private:
    class Pin : public SourceStream {
    public:
        explicit Pin(PacedTone* source) : SourceStream(source, L"Out"), source_(source) {}
        ~Pin() override { StopThread(); }
        HRESULT CheckMediaType(const MediaType& type) override {
            return type.Matches(PcmMediaType(kRate, 1, 16)) ? S_OK : S_FALSE;
        }
        HRESULT GetMediaType(int position, MediaType* type) override {
            if (position != 0) return VFW_S_NO_MORE_ITEMS;
            *type = PcmMediaType(kRate, 1, 16);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
            ALLOCATOR_PROPERTIES wanted{4, kBlock, 1, 0}, actual{};
            return allocator->SetProperties(&wanted, &actual);
        }

    protected:
        HRESULT FillBuffer(IMediaSample* sample) override {
            if (sent_ > 0) {
                source_->Log(sent_);
                std::this_thread::sleep_until(next_);
            }
            next_ = Clock::now() + std::chrono::milliseconds(50);
            if (sent_ + kBlock > source_->tone_.size()) return S_FALSE;
            BYTE* buffer = nullptr;
            sample->GetPointer(&buffer);
            std::memcpy(buffer, source_->tone_.data() + sent_, kBlock);
            sample->SetActualDataLength(kBlock);
            sent_ += kBlock;
            return S_OK;
        }
        HRESULT OnThreadCreate() override {
            sent_ = 0;
            return S_OK;
        }

    private:
        PacedTone* source_;
        size_t sent_ = 0;
        Clock::time_point next_;
    };

    void Log(uint64_t bytes) {
        int at = log_->count.load();
        if (at >= DeliveryLog::kMax) return;
        log_->entries[at] = {Clock::now().time_since_epoch() / std::chrono::nanoseconds(1), bytes};
        log_->count.store(at + 1);
    }

    DeliveryLog* log_;
    std::vector<uint8_t> tone_;
};

TEST(FileWriters, EveryByteArrivesInOrderWhateverTheSampleSizes) {
    auto dir = MakeTempDir("writers_order");
    // Several times the gathering buffer, in samples that do not divide it.
    auto tone = ToneBytes(44100, 2, 6.0);
    {
        auto graph = NewGraph();
        auto source = AddTone(graph.Get(), 44100, 2, 6.0);
        auto dump = AddFileWriter(graph.Get(), CLSID_FileDump, L"Dump", (dir / "dump").string());
        ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), dump.Get()), S_OK);
        EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
        EXPECT_TRUE(ReadFile(dir / "dump") == tone);
    }
    // The positioned writer, with a header written back at the start every second.
    auto graph = NewGraph();
    auto source = AddTone(graph.Get(), 44100, 2, 6.0);
    auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
    auto writer =
        AddFileWriter(graph.Get(), CLSID_FileWriter, L"Writer", (dir / "out.wav").string());
    ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), waveDest.Get()), S_OK);
    ASSERT_EQ(ConnectPins(graph.Get(), waveDest.Get(), writer.Get()), S_OK);
    EXPECT_EQ(RunToEnd(graph.Get()).code, EC_COMPLETE);
    WavData wav;
    ASSERT_TRUE(ReadWav(dir / "out.wav", &wav));
    EXPECT_EQ(wav.dataSize, tone.size());
    EXPECT_EQ(wav.riffSize, tone.size() + 36);
    EXPECT_TRUE(wav.data == tone);
    EXPECT_EQ(std::filesystem::file_size(dir / "out.wav"), 44 + tone.size());
}

// Without another sample, an end or a stop, what a stalled stream sent still reaches the file.
TEST(FileWriters, BytesOfAStalledStreamReachTheFile) {
    auto dir = MakeTempDir("writers_stalled");
    for (const CLSID* clsid : {&CLSID_FileWriter, &CLSID_FileDump}) {
        auto output = dir / "out.raw";
        auto graph = NewGraph();
        // Half a second of tone, then empty samples for ever.
        auto source = AddTone(graph.Get(), kRate, 1, 0.5, false);
        auto writer = AddFileWriter(graph.Get(), *clsid, L"Writer", output.string());
        ASSERT_EQ(ConnectPins(graph.Get(), source.Get(), writer.Get()), S_OK);
        ASSERT_EQ(Control(graph.Get())->Run(), S_OK);
        EXPECT_TRUE(WaitForSize(output, kBytesPerSecond / 2));
        EXPECT_TRUE(ReadFile(output) == ToneBytes(kRate, 1, 0.5));
        Control(graph.Get())->Stop();
    }
}

// A live recording killed at any moment: the file holds everything delivered more than a
// moment before the kill (the writers hold bytes at most 200 ms; a second is allowed for a
// loaded machine, far below the 16 s the buffer could hold of this stream), and the WAV header
// states no more than the file holds and lags it by at most a second of audio and one block.
TEST(FileWriters, AKilledRecordingLosesOnlyItsLastMoment) {
    for (bool wav : {false, true}) {
        SCOPED_TRACE(wav ? "wav" : "raw");
        auto dir = MakeTempDir("writers_killed");
        auto output = dir / "out";
        DeliveryLog* log = SharedLog();
        ASSERT_TRUE(log);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto graph = NewGraph();
            auto source = MakeCom<PacedTone>(log);
            graph->AddFilter(source.Get(), L"Tone");
            auto writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"Writer", output.string());
            bool connected;
            if (wav) {
                auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
                connected = ConnectPins(graph.Get(), source.Get(), waveDest.Get()) == S_OK &&
                            ConnectPins(graph.Get(), waveDest.Get(), writer.Get()) == S_OK;
            } else {
                connected = ConnectPins(graph.Get(), source.Get(), writer.Get()) == S_OK;
            }
            if (!connected) _exit(2);
            if (Control(graph.Get())->Run() != S_OK) _exit(3);
            std::this_thread::sleep_for(std::chrono::seconds(60));
            _exit(4);
        }
        // Killed once three seconds went through, whatever the machine's load.
        auto deadline = Clock::now() + std::chrono::seconds(60);
        while (log->BytesBefore(Clock::now()) < kBytesPerSecond * 3 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto killedAt = Clock::now();
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;

        const uint64_t header = wav ? 44 : 0;
        auto bytes = ReadFile(output);
        ASSERT_GE(bytes.size(), header);
        const uint64_t held = bytes.size() - header;
        const uint64_t due = log->BytesBefore(killedAt - std::chrono::seconds(1));
        EXPECT_GE(held, due) << "delivered " << log->BytesBefore(killedAt);
        EXPECT_LE(held, log->BytesBefore(killedAt + std::chrono::seconds(1)) + PacedTone::kBlock);
        PacedTone reference(log);
        EXPECT_TRUE(std::equal(bytes.begin() + static_cast<long>(header), bytes.end(),
                               reference.Tone().begin()));
        if (wav) {
            WavData read;
            ASSERT_TRUE(ReadWav(output, &read));
            EXPECT_LE(read.dataSize, held);
            EXPECT_LE(held - read.dataSize, kBytesPerSecond + kBytesPerSecond / 20);
            EXPECT_EQ(read.riffSize, read.dataSize + 36);
        }
        ::munmap(log, sizeof(DeliveryLog));
    }
}

// The disk fills while bytes wait in memory and no sample comes to write them: the error is
// still reported, and the WAV header states only what the file holds.
TEST(FileWriters, ADiskFullWhileHoldingBytesIsReportedAndTheHeaderStaysTrue) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 1;
        {
            FullDisk disk("writers_full", 12 * 1024);
            auto output = disk.Dir() / "out.wav";
            auto graph = NewGraph();
            // Under a second of audio, so no header update comes to write it out either.
            auto source = AddTone(graph.Get(), kRate, 1, 0.9, false);
            auto waveDest = AddFilter(graph.Get(), CLSID_WavDest, L"Wave Dest");
            auto writer = AddFileWriter(graph.Get(), CLSID_FileWriter, L"Writer", output.string());
            if (ConnectPins(graph.Get(), source.Get(), waveDest.Get()) == S_OK &&
                ConnectPins(graph.Get(), waveDest.Get(), writer.Get()) == S_OK &&
                Control(graph.Get())->Run() == S_OK) {
                Ending end = WaitForEnd(graph.Get());
                Control(graph.Get())->Stop();
                WavData read;
                status = end.code != EC_ERRORABORT || end.param1 != HRESULT_DISK_FULL ? 2
                         : !ReadWav(output, &read)                                    ? 3
                         : read.dataSize == 0 || read.dataSize > read.data.size()     ? 4
                         : read.riffSize != read.dataSize + 36                        ? 5
                         : read.dataSize % 2 != 0                                     ? 6
                                                                                      : 0;
            }
        }
        _exit(status);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quil::test
