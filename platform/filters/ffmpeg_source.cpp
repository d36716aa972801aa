#include "platform/filters/ffmpeg_source.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/packet_sample.h"

namespace quil::filters {

namespace {

constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
constexpr DWORD AM_SEEKING_RelativePositioning = 2;

// Enough read-ahead to ride out poorly interleaved files without holding unbounded memory.
constexpr size_t kMaxQueuedPackets = 1024;
constexpr size_t kMaxQueuedBytes = 32u << 20;
// Emptied packets kept for the demuxer to read into again: as many as a queue refill takes.
constexpr size_t kSparePackets = kMaxQueuedPackets;
// A demuxer that found the queue full waits until delivery has drained it to half, so it is
// woken once per few hundred packets instead of once per packet.
constexpr size_t kLowWaterPackets = kMaxQueuedPackets / 2;
constexpr size_t kLowWaterBytes = kMaxQueuedBytes / 2;
// How often the demuxer looks for a new stream title in a Shoutcast stream.
constexpr uint64_t kTitlePollPackets = 64;

REFERENCE_TIME ToReferenceTime(int64_t value, AVRational timeBase) {
    return av_rescale_q(value, timeBase, ffmpeg::kReferenceTimeBase);
}

bool UsableStream(const AVStream* stream) {
    const AVCodecParameters* p = stream->codecpar;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;  // cover art
    if (p->codec_id == AV_CODEC_ID_NONE) return false;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO)
        return p->sample_rate > 0 && p->ch_layout.nb_channels > 0 && p->ch_layout.nb_channels <= 64;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO)
        return p->width > 0 && p->height > 0 && p->width <= 16384 && p->height <= 16384;
    return false;
}

MediaType StreamMediaType(const AVStream* stream) {
    const AVCodecParameters* p = stream->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && p->ch_layout.nb_channels <= 8 &&
        (p->codec_id == AV_CODEC_ID_PCM_S16LE || p->codec_id == AV_CODEC_ID_PCM_U8))
        return PcmMediaType(p->sample_rate, p->ch_layout.nb_channels,
                            p->codec_id == AV_CODEC_ID_PCM_U8 ? 8 : 16);
    AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    return ffmpeg::CompressedMediaType(p, rate);
}

}  // namespace

// DemuxOutputPin

DemuxOutputPin::DemuxOutputPin(FfmpegSource* source, std::wstring name, int streamIndex,
                               MediaType type)
    : OutputPin(source, std::move(name)),
      source_(source),
      streamIndex_(streamIndex),
      offered_(std::move(type)) {}

DemuxOutputPin::~DemuxOutputPin() {
    StopDelivery();
}

HRESULT DemuxOutputPin::CheckMediaType(const MediaType& type) {
    return type.majortype == offered_.majortype && type.subtype == offered_.subtype &&
                   type.formattype == offered_.formattype
               ? S_OK
               : S_FALSE;
}

HRESULT DemuxOutputPin::GetMediaType(int position, MediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    *type = offered_;
    return S_OK;
}

HRESULT DemuxOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    // Samples carry the demuxed packets themselves; the allocator only completes the connection.
    request->cBuffers = std::max<LONG>(request->cBuffers, 1);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, 1);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
}

HRESULT DemuxOutputPin::Active() {
    HRESULT hr = OutputPin::Active();
    if (FAILED(hr) || thread_.joinable()) return hr;
    {
        std::lock_guard lock(source_->mutex_);
        queue_.clear();
        queuedBytes_ = 0;
        exit_ = flushing_ = busy_ = refused_ = demuxerWaiting_ = starving_ = false;
        discontinuity_ = true;
    }
    thread_ = std::thread(&DemuxOutputPin::DeliveryLoop, this);
    return S_OK;
}

HRESULT DemuxOutputPin::Inactive() {
    StopDelivery();
    return OutputPin::Inactive();
}

void DemuxOutputPin::StopDelivery() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(source_->mutex_);
        exit_ = true;
        source_->changed_.notify_all();
    }
    thread_.join();
    std::lock_guard lock(source_->mutex_);
    queue_.clear();
    queuedBytes_ = 0;
}

bool DemuxOutputPin::QueueFull() const {
    return queue_.size() >= kMaxQueuedPackets || queuedBytes_ >= kMaxQueuedBytes;
}

bool DemuxOutputPin::QueueLow() const {
    return queue_.size() <= kLowWaterPackets && queuedBytes_ <= kLowWaterBytes;
}

void DemuxOutputPin::Push(Item item, std::unique_lock<std::mutex>& lock) {
    auto& source = *source_;
    bool endOfStream = !item.packet;
    if (!endOfStream) {
        if (QueueFull()) {
            // Another stream running dry must not wait for this one to drain (a file whose
            // streams lie far apart).
            source.changed_.wait(lock, [&] {
                bool go = source.command_ != FfmpegSource::Command::None || flushing_ || exit_ ||
                          QueueLow() || (!QueueFull() && source.AnyPinStarving());
                demuxerWaiting_ = !go;
                return go;
            });
        }
        if (source.command_ != FfmpegSource::Command::None || refused_) return;
    }
    if (flushing_ || exit_) return;
    bool wasEmpty = queue_.empty();
    queuedBytes_ += endOfStream ? 0 : static_cast<size_t>(item.packet->size);
    queue_.push_back(std::move(item));
    // Only a delivery thread waiting on an empty queue needs waking; waking on every packet
    // costs a system call per packet.
    if (wasEmpty) source.changed_.notify_all();
}

void DemuxOutputPin::DeliveryLoop() {
    auto& source = *source_;
    ffmpeg::PacketPtr spent;
    while (true) {
        Item item;
        bool discontinuity = false;
        {
            std::unique_lock lock(source.mutex_);
            if (spent && source.sparePackets_.size() < kSparePackets)
                source.sparePackets_.push_back(std::move(spent));
            spent.reset();
            busy_ = false;
            // A seek waits for the delivery threads to be idle.
            if (source.command_ != FfmpegSource::Command::None) source.changed_.notify_all();
            if (queue_.empty() && !exit_) {
                starving_ = true;
                if (source.DemuxerWaiting()) source.changed_.notify_all();
                source.changed_.wait(lock, [&] { return exit_ || !queue_.empty(); });
                starving_ = false;
            }
            if (exit_) return;
            item = std::move(queue_.front());
            queue_.pop_front();
            if (item.packet) queuedBytes_ -= static_cast<size_t>(item.packet->size);
            busy_ = true;
            if (demuxerWaiting_ && (QueueLow() || source.AnyPinStarving())) {
                demuxerWaiting_ = false;  // one wake-up per refill
                source.changed_.notify_all();
            }
            if (item.packet) discontinuity = std::exchange(discontinuity_, false);
        }
        if (!item.packet) {
            if (item.failed) source.ReportBreak();
            DeliverEndOfStream();
            continue;
        }
        // The packet travels on as it was read; nothing is copied.
        auto sample = MakeCom<PacketSample>(std::move(item.packet));
        if (item.hasTime) sample->SetTime(&item.start, &item.stop);
        sample->SetSyncPoint(item.sync);
        sample->SetDiscontinuity(discontinuity);
        HRESULT hr = Deliver(sample.Get());
        spent = sample->TakeEmptiedPacket();
        sample = nullptr;
        if (FAILED(hr)) {
            // Downstream failed (and said so itself): stop feeding it until repositioned.
            std::lock_guard lock(source.mutex_);
            if (!flushing_) refused_ = true;
        }
    }
}

// FfmpegSource

FfmpegSource::FfmpegSource(const CLSID& clsid) : BaseFilter(clsid) {
    ffmpeg::Initialise();
}

FfmpegSource::~FfmpegSource() {
    interrupter_.Abort();
    StopDemux();
    for (auto& pin : pins_) pin->StopDelivery();
}

HRESULT FfmpegSource::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (InterfaceMatches<IFileSourceFilter>(iid)) return GetInterface<IFileSourceFilter>(this, out);
    if (InterfaceMatches<IMediaSeeking>(iid)) return GetInterface<IMediaSeeking>(this, out);
    if (InterfaceMatches<IAMOpenProgress>(iid)) return GetInterface<IAMOpenProgress>(this, out);
    if (InterfaceMatches<IStreamEnding>(iid)) return GetInterface<IStreamEnding>(this, out);
    return BaseFilter::NonDelegatingQueryInterface(iid, out);
}

int FfmpegSource::GetPinCount() {
    return static_cast<int>(pins_.size());
}

BasePin* FfmpegSource::GetPin(int index) {
    if (index < 0 || index >= GetPinCount()) return nullptr;
    return pins_[static_cast<size_t>(index)].get();
}

bool FfmpegSource::IsLoaded() {
    std::lock_guard lock(StateLock());
    return format_ != nullptr;
}

HRESULT FfmpegSource::Load(LPCWSTR file, const AM_MEDIA_TYPE*) {
    if (!file) return E_POINTER;
    if (IsLoaded() || loading_.exchange(true)) return E_UNEXPECTED;
    std::string location = Narrow(file);
    ffmpeg::FormatPtr format;
    interrupter_.Reset();
    // Checked after the reset: an abort from now on reaches the interrupter, one before it is
    // seen here.
    HRESULT hr =
        abortLoad_.exchange(false) ? E_ABORT : ffmpeg::OpenInput(location, &interrupter_, &format);
    if (hr == E_ABORT) abortLoad_ = false;
    if (SUCCEEDED(hr)) {
        std::lock_guard lock(StateLock());
        int audio = 0, video = 0;
        pinOfStream_.assign(format->nb_streams, nullptr);
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* stream = format->streams[i];
            if (!UsableStream(stream)) continue;
            bool isVideo = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            int number = isVideo ? ++video : ++audio;
            std::wstring name = isVideo ? L"Video" : L"Audio";
            if (number > 1) name += L" " + std::to_wstring(number);
            pins_.push_back(std::make_unique<DemuxOutputPin>(this, name, static_cast<int>(i),
                                                             StreamMediaType(stream)));
            pinOfStream_[i] = pins_.back().get();
        }
        if (pins_.empty()) {
            pinOfStream_.clear();
            hr = VFW_E_INVALID_FILE_FORMAT;
        } else {
            origin_ = format->start_time != AV_NOPTS_VALUE
                          ? ToReferenceTime(format->start_time, AV_TIME_BASE_Q)
                          : 0;
            format_ = std::move(format);
            file_ = file;
            isStream_ = ffmpeg::LooksLikeUrl(location);
            std::lock_guard stats(mutex_);
            statistics_.bitRate = format_->bit_rate;
        }
    }
    if (SUCCEEDED(hr)) SnapshotMetadata();
    loading_ = false;
    return hr;
}

HRESULT FfmpegSource::AbortOperation() {
    abortLoad_ = true;
    if (loading_) interrupter_.Abort();
    return S_OK;
}

HRESULT FfmpegSource::GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) {
    if (!file) return E_POINTER;
    *file = nullptr;
    if (!IsLoaded()) return E_FAIL;
    size_t bytes = (file_.size() + 1) * sizeof(WCHAR);
    *file = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*file) return E_OUTOFMEMORY;
    std::memcpy(*file, file_.c_str(), bytes);
    if (type) {
        *type = AM_MEDIA_TYPE{};
        type->majortype = MEDIATYPE_Stream;
    }
    return S_OK;
}

HRESULT FfmpegSource::Pause() {
    std::lock_guard seek(seekMutex_);
    bool starting = IsStopped();
    if (starting && !IsLoaded()) return E_UNEXPECTED;
    HRESULT hr = BaseFilter::Pause();
    if (SUCCEEDED(hr) && starting) StartDemux();
    return hr;
}

HRESULT FfmpegSource::Stop() {
    // A stream still opening gives up at once.
    if (loading_) interrupter_.Abort();
    std::lock_guard seek(seekMutex_);
    StopDemux();
    return BaseFilter::Stop();
}

HRESULT FfmpegSource::EndStreamsNow() {
    std::lock_guard seek(seekMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!demux_.joinable() || ended_ || command_ != Command::None) return S_FALSE;
        command_ = Command::End;
        changed_.notify_all();
    }
    // A read waiting on the network gives up; the demuxer ends the streams instead.
    interrupter_.Abort();
    return S_OK;
}

void FfmpegSource::StartDemux() {
    if (demux_.joinable()) return;
    interrupter_.Reset();
    // Streams nobody decodes are skipped by the demuxer itself instead of being read and
    // dropped here (the video of a file whose audio is grabbed is most of its bytes). Set
    // before the seek, so a seek picks its reference among the streams that are read.
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const DemuxOutputPin* pin = pinOfStream_[i];
        format_->streams[i]->discard =
            pin && pin->IsConnected() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    if (needsSeek_ && Seekable()) SeekDemuxer(segmentStart_);
    needsSeek_ = true;
    {
        std::lock_guard lock(mutex_);
        command_ = Command::None;
        parked_ = ended_ = errorReported_ = false;
        pinsBeforeBreak_ = 0;
        statistics_.failed = false;
        statistics_.running = true;
        latest_ = 0;
    }
    demux_ = std::thread(&FfmpegSource::DemuxLoop, this);
}

void FfmpegSource::StopDemux() {
    if (!demux_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        command_ = Command::Exit;
        changed_.notify_all();
    }
    interrupter_.Abort();
    demux_.join();
    std::lock_guard lock(mutex_);
    statistics_.running = false;
}

void FfmpegSource::DemuxLoop() {
    AVFormatContext* format = format_.get();
    while (true) {
        ffmpeg::PacketPtr packet;
        {
            std::unique_lock lock(mutex_);
            while (true) {
                if (command_ == Command::Exit) return;
                if (command_ == Command::End) {
                    // What is queued goes no further; the end follows the sample in hand.
                    for (auto& pin : pins_) {
                        pin->queue_.clear();
                        pin->queuedBytes_ = 0;
                    }
                    command_ = Command::None;
                    ended_ = true;
                    EndAllStreams(lock, false);
                    changed_.notify_all();
                    continue;
                }
                if (command_ == Command::Park) {
                    parked_ = true;
                    changed_.notify_all();
                    changed_.wait(lock, [&] { return command_ != Command::Park; });
                    parked_ = false;
                    continue;
                }
                if (ended_) {
                    changed_.wait(lock, [&] { return command_ != Command::None || !ended_; });
                    continue;
                }
                break;
            }
            if (!sparePackets_.empty()) {
                packet = std::move(sparePackets_.back());
                sparePackets_.pop_back();
            }
        }
        if (!packet) packet.reset(av_packet_alloc());
        if (!packet) return;
        int error = av_read_frame(format, packet.get());
        if (error == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (error >= 0) {
            if (format->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED) {
                format->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
                SnapshotMetadata();
            }
            RoutePacket(std::move(packet));
            continue;
        }
        std::unique_lock lock(mutex_);
        if (command_ != Command::None) continue;  // a stop interrupted the read
        // Demuxers often report a failed read as the end of the file; the I/O layer knows.
        int ioError = format->pb ? format->pb->error : 0;
        if (error == AVERROR_EOF && ioError < 0 && ioError != AVERROR_EOF) error = ioError;
        bool failed = error != AVERROR_EOF && !errorReported_;
        if (failed) {
            errorReported_ = true;
            statistics_.failed = true;
            breakError_ = ffmpeg::HresultFromAverror(error);
        }
        ended_ = true;
        EndAllStreams(lock, failed);
    }
}

void FfmpegSource::EndAllStreams(std::unique_lock<std::mutex>& lock, bool failed) {
    int connected = 0;
    for (auto& pin : pins_) connected += pin->IsConnected() ? 1 : 0;
    if (failed && connected == 0) {
        HRESULT error = breakError_;
        lock.unlock();
        NotifyEvent(EC_ERRORABORT, error, 0);
        lock.lock();
        return;
    }
    if (failed) pinsBeforeBreak_ = connected;
    for (auto& pin : pins_) {
        if (!pin->IsConnected()) continue;
        DemuxOutputPin::Item item;
        item.failed = failed;
        pin->Push(std::move(item), lock);
    }
}

bool FfmpegSource::DemuxerWaiting() const {
    return std::any_of(pins_.begin(), pins_.end(),
                       [](const auto& pin) { return pin->demuxerWaiting_; });
}

bool FfmpegSource::AnyPinStarving() const {
    return std::any_of(pins_.begin(), pins_.end(), [](const auto& pin) { return pin->starving_; });
}

void FfmpegSource::ReportBreak() {
    HRESULT error;
    {
        std::lock_guard lock(mutex_);
        if (pinsBeforeBreak_ == 0 || --pinsBeforeBreak_ > 0) return;
        error = breakError_;
    }
    // Everything read before the break has been delivered; the error goes out before the last
    // end-of-stream, so the graph never reads this stream as finished.
    NotifyEvent(EC_ERRORABORT, error, 0);
}

void FfmpegSource::RoutePacket(ffmpeg::PacketPtr packet) {
    int index = packet->stream_index;
    DemuxOutputPin* pin = index >= 0 && static_cast<size_t>(index) < pinOfStream_.size()
                              ? pinOfStream_[static_cast<size_t>(index)]
                              : nullptr;
    {
        std::lock_guard lock(mutex_);
        ++statistics_.packets;
        statistics_.bytes += static_cast<uint64_t>(std::max(packet->size, 0));
    }
    if (isStream_ && statistics_.packets % kTitlePollPackets == 1) PollStreamTitle();
    // An unconnected stream is never decoded: its packets end here.
    if (!pin || !pin->IsConnected() || packet->size <= 0) return;

    const AVStream* stream = format_->streams[index];
    DemuxOutputPin::Item item;
    int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (pts != AV_NOPTS_VALUE) {
        item.hasTime = true;
        item.start = ToReferenceTime(pts, stream->time_base) - origin_ - segmentStart_;
        item.stop =
            item.start +
            (packet->duration > 0 ? ToReferenceTime(packet->duration, stream->time_base) : 0);
    }
    item.sync = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    // The packet carries the sample's time too, in the decoder's time base, so the decoder
    // takes it as it is (its frame durations come from the stream, not the packets).
    packet->pts = item.hasTime ? item.start : AV_NOPTS_VALUE;
    packet->dts = AV_NOPTS_VALUE;
    packet->duration = 0;
    packet->time_base = ffmpeg::kReferenceTimeBase;
    item.packet = std::move(packet);
    std::unique_lock lock(mutex_);
    if (item.hasTime) latest_ = std::max(latest_, item.start);
    pin->Push(std::move(item), lock);
}

bool FfmpegSource::Seekable() const {
    if (!format_) return false;
    if (format_->iformat->flags & AVFMT_NOTIMESTAMPS) return false;
    if (format_->pb) return (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
    return format_->duration != AV_NOPTS_VALUE;  // network demuxers without an I/O context (RTSP)
}

HRESULT FfmpegSource::SeekDemuxer(REFERENCE_TIME target) {
    AVFormatContext* format = format_.get();
    int64_t timestamp = av_rescale(target + origin_, AV_TIME_BASE, 10'000'000);
    std::vector<AVDiscard> skipped(format->nb_streams);
    for (unsigned i = 0; i < format->nb_streams; ++i) skipped[i] = format->streams[i]->discard;
    if (target <= 0) {
        // Back to the start means the first packet of the streams read: the one at the start
        // time may come after packets stamped earlier (an encoder's priming samples, cut after
        // decoding), and only from the first does the decoder produce what a fresh run does.
        timestamp -= AV_TIME_BASE;
    } else {
        // Elsewhere the seek goes by the stream FFmpeg picks when every stream is read (the
        // video's key frames, where containers index them), so skipped streams are read while
        // it seeks.
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = AVDISCARD_DEFAULT;
    }
    int error = av_seek_frame(format, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    if (error < 0) error = avformat_seek_file(format, -1, INT64_MIN, timestamp, INT64_MAX, 0);
    for (unsigned i = 0; i < format->nb_streams; ++i) format->streams[i]->discard = skipped[i];
    if (error < 0) return ffmpeg::HresultFromAverror(error);
    std::lock_guard lock(mutex_);
    segmentStart_ = target;
    return S_OK;
}

HRESULT FfmpegSource::GetCapabilities(DWORD* capabilities) {
    if (!capabilities) return E_POINTER;
    if (!IsLoaded()) return E_UNEXPECTED;
    *capabilities = AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
    if (Seekable())
        *capabilities |=
            AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards;
    return S_OK;
}

HRESULT FfmpegSource::GetDuration(LONGLONG* duration) {
    if (!duration) return E_POINTER;
    *duration = 0;
    if (!IsLoaded()) return E_UNEXPECTED;
    // A live stream has no duration; it reads as 0.
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
        *duration = ToReferenceTime(format_->duration, AV_TIME_BASE_Q);
    return S_OK;
}

HRESULT FfmpegSource::GetCurrentPosition(LONGLONG* position) {
    if (!position) return E_POINTER;
    std::lock_guard lock(mutex_);
    *position = segmentStart_ + std::max<REFERENCE_TIME>(latest_, 0);
    return S_OK;
}

HRESULT FfmpegSource::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) {
    DWORD positioning = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (positioning == AM_SEEKING_NoPositioning) return S_OK;
    if (!current) return E_POINTER;
    std::lock_guard seek(seekMutex_);
    if (!IsLoaded()) return E_UNEXPECTED;
    if (!Seekable()) return E_FAIL;
    REFERENCE_TIME target = *current;
    if (positioning == AM_SEEKING_RelativePositioning) {
        LONGLONG now = 0;
        GetCurrentPosition(&now);
        target += now;
    }
    LONGLONG duration = 0;
    GetDuration(&duration);
    target = std::max<REFERENCE_TIME>(target, 0);
    if (duration > 0) target = std::min<REFERENCE_TIME>(target, duration);

    if (!demux_.joinable()) {
        std::lock_guard lock(mutex_);
        segmentStart_ = target;
        needsSeek_ = true;
        return S_OK;
    }

    std::vector<DemuxOutputPin*> connected;
    for (auto& pin : pins_)
        if (pin->IsConnected()) connected.push_back(pin.get());
    {
        std::lock_guard lock(mutex_);
        for (auto* pin : connected) {
            pin->flushing_ = true;
            pin->queue_.clear();
            pin->queuedBytes_ = 0;
        }
        changed_.notify_all();
    }
    // Flushing frees delivery threads held downstream (a paused renderer, a full buffer).
    for (auto* pin : connected) pin->DeliverBeginFlush();
    {
        std::unique_lock lock(mutex_);
        command_ = Command::Park;
        changed_.notify_all();
        changed_.wait(lock, [&] {
            return parked_ && std::none_of(connected.begin(), connected.end(),
                                           [](DemuxOutputPin* pin) { return pin->busy_; });
        });
    }
    HRESULT hr = SeekDemuxer(target);
    {
        std::lock_guard lock(mutex_);
        for (auto* pin : connected) {
            pin->queue_.clear();
            pin->queuedBytes_ = 0;
            pin->flushing_ = pin->refused_ = false;
            pin->discontinuity_ = true;
        }
        latest_ = 0;
    }
    for (auto* pin : connected) {
        pin->DeliverEndFlush();
        pin->DeliverNewSegment(0, INT64_MAX, 1.0);
    }
    std::lock_guard lock(mutex_);
    command_ = Command::None;
    ended_ = false;
    errorReported_ = false;
    pinsBeforeBreak_ = 0;
    changed_.notify_all();
    return hr;
}

HRESULT FfmpegSource::SetRate(double rate) {
    return rate == 1.0 ? S_OK : E_NOTIMPL;
}

HRESULT FfmpegSource::GetRate(double* rate) {
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
}

FfmpegSource::ReadAhead FfmpegSource::MeasureReadAhead() {
    std::lock_guard lock(mutex_);
    ReadAhead ahead;
    ahead.complete = ended_;
    for (auto& pin : pins_) {
        if (!pin->IsConnected() || pin->queue_.empty()) continue;
        const auto& queue = pin->queue_;
        auto first = std::find_if(queue.begin(), queue.end(),
                                  [](const auto& item) { return item.packet && item.hasTime; });
        auto last = std::find_if(queue.rbegin(), queue.rend(),
                                 [](const auto& item) { return item.packet && item.hasTime; });
        if (first != queue.end())
            ahead.queued = std::max(ahead.queued, std::max(last->stop, last->start) - first->start);
    }
    return ahead;
}

FfmpegSource::Statistics FfmpegSource::ReadStatistics() {
    std::lock_guard lock(mutex_);
    return statistics_;
}

bool FfmpegSource::HasStream(const GUID& majorType) {
    std::lock_guard lock(StateLock());
    return std::any_of(pins_.begin(), pins_.end(),
                       [&](const auto& pin) { return pin->offered_.majortype == majorType; });
}

void FfmpegSource::SnapshotMetadata() {
    std::map<std::string, std::string> tags;
    auto add = [&](const AVDictionary* dictionary) {
        const AVDictionaryEntry* entry = nullptr;
        while ((entry = av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
            tags.emplace(ToLowerAscii(entry->key), entry->value);
    };
    add(format_->metadata);
    // Ogg and FLAC keep their comments on the stream.
    for (const auto* pin : pinOfStream_)
        if (pin) add(format_->streams[pin->StreamIndex()]->metadata);
    if (format_->pb) {
        uint8_t* headers = nullptr;
        if (av_opt_get(format_->pb, "icy_metadata_headers", AV_OPT_SEARCH_CHILDREN, &headers) >=
                0 &&
            headers) {
            std::string text(reinterpret_cast<char*>(headers));
            av_free(headers);
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                std::string line = text.substr(start, end - start);
                start = end + 1;
                auto colon = line.find(':');
                if (colon == std::string::npos) continue;
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
                    value.pop_back();
                tags.emplace(ToLowerAscii(line.substr(0, colon)), value);
            }
        }
    }
    std::lock_guard lock(metadataMutex_);
    metadata_ = std::move(tags);
}

void FfmpegSource::PollStreamTitle() {
    if (!format_->pb) return;
    uint8_t* packet = nullptr;
    if (av_opt_get(format_->pb, "icy_metadata_packet", AV_OPT_SEARCH_CHILDREN, &packet) < 0 ||
        !packet)
        return;
    std::string text(reinterpret_cast<char*>(packet));
    av_free(packet);
    const std::string key = "StreamTitle='";
    auto start = text.find(key);
    if (start == std::string::npos) return;
    start += key.size();
    auto end = text.find("';", start);
    if (end == std::string::npos) end = text.rfind('\'');
    if (end == std::string::npos || end < start) end = text.size();
    std::lock_guard lock(metadataMutex_);
    streamTitle_ = text.substr(start, end - start);
}

std::map<std::string, std::string> FfmpegSource::Metadata() {
    std::lock_guard lock(metadataMutex_);
    auto tags = metadata_;
    if (!streamTitle_.empty()) tags["streamtitle"] = streamTitle_;
    return tags;
}

HRESULT CreateFfmpegSource(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto source = MakeCom<FfmpegSource>(CLSID_FfmpegSource);
    return source->NonDelegatingQueryInterface(iid, out);
}

bool ProbeFfmpegFile(const std::string& path, const std::vector<uint8_t>& head) {
    if (ffmpeg::LooksLikeUrl(path)) return ffmpeg::IsStreamUrl(path);
    if (head.empty()) return false;
    ffmpeg::Initialise();
    std::vector<uint8_t> padded(head.size() + AVPROBE_PADDING_SIZE, 0);
    std::memcpy(padded.data(), head.data(), head.size());
    AVProbeData probe{};
    probe.filename = path.c_str();
    probe.buf = padded.data();
    probe.buf_size = static_cast<int>(head.size());
    int score = 0;
    return av_probe_input_format3(&probe, 1, &score) != nullptr && score > 0;
}

}  // namespace quil::filters
