#pragma once

// Helpers for the encoder and writer tests: a tone source that can end or go on for ever,
// reading files back with ffprobe and ffmpeg, and a small file system that fills up.

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/filters/tests/graph_test_util.h"
#include "platform/graph/source_stream.h"
#include "testsupport/test_support.h"

namespace quil::test {

// A sine tone of a given length in 16-bit PCM. Without an end it keeps delivering empty
// samples after the tone, so the stream only ends when the graph stops.
class ToneSource : public SourceFilter {
public:
    ToneSource(int rate, int channels, double seconds, bool ends = true)
        : SourceFilter(GUID_NULL),
          rate_(rate),
          channels_(channels),
          samples_(SineSamples(rate, channels, seconds, 440.0, 0.5)),
          ends_(ends) {
        AddPin(std::make_unique<Pin>(this));
    }
    ~ToneSource() override {
        for (auto& pin : pins_) pin->Inactive();
    }

    // Frames handed downstream so far.
    int64_t FramesSent() const { return sent_ / channels_; }

private:
    class Pin : public SourceStream {
    public:
        explicit Pin(ToneSource* source) : SourceStream(source, L"Out"), source_(source) {}
        ~Pin() override { StopThread(); }

        HRESULT CheckMediaType(const MediaType& type) override {
            return type.Matches(Type()) ? S_OK : S_FALSE;
        }
        HRESULT GetMediaType(int position, MediaType* type) override {
            if (position != 0) return VFW_S_NO_MORE_ITEMS;
            *type = Type();
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override {
            ALLOCATOR_PROPERTIES wanted{4, 4096 * source_->channels_ * 2, 1, 0}, actual{};
            return allocator->SetProperties(&wanted, &actual);
        }

    protected:
        HRESULT FillBuffer(IMediaSample* sample) override {
            size_t total = source_->samples_.size();
            size_t at = source_->sent_;
            if (at >= total) {
                if (source_->ends_) return S_FALSE;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                sample->SetActualDataLength(0);
                return S_OK;
            }
            BYTE* buffer = nullptr;
            sample->GetPointer(&buffer);
            size_t count = std::min<size_t>(total - at, sample->GetSize() / 2);
            count -= count % source_->channels_;
            std::memcpy(buffer, source_->samples_.data() + at, count * 2);
            sample->SetActualDataLength(static_cast<LONG>(count * 2));
            REFERENCE_TIME start =
                static_cast<REFERENCE_TIME>(at / source_->channels_) * 10'000'000 / source_->rate_;
            REFERENCE_TIME stop = static_cast<REFERENCE_TIME>((at + count) / source_->channels_) *
                                  10'000'000 / source_->rate_;
            sample->SetTime(&start, &stop);
            source_->sent_ = at + count;
            return S_OK;
        }
        HRESULT OnThreadCreate() override {
            source_->sent_ = 0;
            return S_OK;
        }

    private:
        MediaType Type() const { return PcmMediaType(source_->rate_, source_->channels_, 16); }
        ToneSource* source_;
    };

    int rate_;
    int channels_;
    std::vector<int16_t> samples_;
    bool ends_;
    std::atomic<size_t> sent_{0};
};

inline ComPtr<ToneSource> AddTone(IGraphBuilder* graph, int rate, int channels, double seconds,
                                  bool ends = true) {
    auto source = MakeCom<ToneSource>(rate, channels, seconds, ends);
    EXPECT_EQ(graph->AddFilter(source.Get(), L"Tone"), S_OK);
    return source;
}

inline IMediaControl* Control(IGraphBuilder* graph) {
    return QueryAs<IMediaControl>(graph).Get();
}

// Runs the graph to its end; the end event is returned, the graph stopped.
inline Ending RunToEnd(IGraphBuilder* graph) {
    auto control = QueryAs<IMediaControl>(graph);
    if (FAILED(control->Run())) return {};
    Ending end = WaitForEnd(graph);
    control->Stop();
    return end;
}

// ffprobe's view of a file's first audio stream and of its container, key by key.
struct ProbeResult {
    std::map<std::string, std::string> stream, format;
    std::string Stream(const std::string& key) const {
        auto it = stream.find(key);
        return it == stream.end() ? "" : it->second;
    }
    double Duration() const {
        auto it = format.find("duration");
        return it == format.end() ? -1 : std::atof(it->second.c_str());
    }
    int Int(const std::string& key) const { return std::atoi(Stream(key).c_str()); }
};

inline ProbeResult Probe(const std::filesystem::path& file) {
    ProbeResult result;
    std::string out;
    RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_rate,channels,bit_rate:format=duration,format_name "
        "-of flat '" +
            file.string() + "'",
        &out);
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (key.rfind("streams.stream.0.", 0) == 0) result.stream[key.substr(17)] = value;
        if (key.rfind("format.", 0) == 0) result.format[key.substr(7)] = value;
    }
    return result;
}

struct Decoded {
    int channels = 0;
    std::vector<uint8_t> pcm;  // 16-bit interleaved
    std::string errors;        // what ffmpeg complained about
    int64_t Frames() const { return channels ? pcm.size() / 2 / channels : 0; }
    double Rms() const { return Rms16(pcm.data(), pcm.size()); }
};

// Decodes the whole file with ffmpeg into 16-bit PCM in the file's own rate and channels.
inline Decoded Decode(const std::filesystem::path& file, int channels) {
    Decoded decoded;
    decoded.channels = channels;
    auto raw = file.string() + ".raw";
    auto log = file.string() + ".log";
    RunCommand("ffmpeg -nostdin -v error -y -i '" + file.string() + "' -f s16le -c:a pcm_s16le '" +
               raw + "' 2>'" + log + "'");
    decoded.pcm = ReadFile(raw);
    auto errors = ReadFile(log);
    decoded.errors.assign(errors.begin(), errors.end());
    std::filesystem::remove(raw);
    std::filesystem::remove(log);
    return decoded;
}

// A folder on a file system that holds only `bytes`: a tmpfs when mounting is allowed, else
// the folder is ordinary and the process's file-size limit is lowered instead (writes past it
// fail with EFBIG, which the writers report as a full disk). Both end with the object.
class FullDisk {
public:
    FullDisk(const std::string& name, size_t bytes) : dir_(MakeTempDir(name)) {
        std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) {
            ::getrlimit(RLIMIT_FSIZE, &saved_);
            previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(bytes), saved_.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    ~FullDisk() {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        } else {
            ::setrlimit(RLIMIT_FSIZE, &saved_);
            ::signal(SIGXFSZ, previousHandler_);
        }
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    bool Mounted() const { return mounted_; }
    // Copies a file out before the folder goes away.
    void Keep(const std::filesystem::path& file, const std::filesystem::path& to) const {
        std::filesystem::copy_file(file, to, std::filesystem::copy_options::overwrite_existing);
    }

private:
    std::filesystem::path dir_;
    bool mounted_ = false;
    rlimit saved_{};
    sighandler_t previousHandler_ = SIG_DFL;
};

}  // namespace quil::test
