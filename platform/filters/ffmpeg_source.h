#pragma once

// The FFmpeg source and splitter: opens a file or stream URL with libavformat and offers one
// output pin per audio and video stream. One demux thread reads packets and hands each to the
// queue of its pin; every connected pin delivers from its queue on a thread of its own, so a
// renderer that holds its stream (pacing, pause) never starves the other streams. Packets of
// unconnected pins are dropped as they are read.

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/filters/ffmpeg_util.h"
#include "platform/graph/base_filter.h"

namespace quil::filters {

class FfmpegSource;

class DemuxOutputPin : public OutputPin {
public:
    DemuxOutputPin(FfmpegSource* source, std::wstring name, int streamIndex, MediaType type);
    ~DemuxOutputPin() override;

    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    int StreamIndex() const { return streamIndex_; }
    bool IsVideo() const { return offered_.majortype == MEDIATYPE_Video; }

private:
    friend class FfmpegSource;
    struct Item {
        ffmpeg::PacketPtr packet;  // null for end-of-stream
        bool failed = false;       // the stream broke here: report it, then end
        REFERENCE_TIME start = 0, stop = 0;
        bool hasTime = false;
        bool sync = false;
    };

    // Called with the source's mutex held.
    void Push(Item item, std::unique_lock<std::mutex>& lock);
    bool QueueFull() const;
    bool QueueLow() const;
    void DeliveryLoop();
    void StopDelivery();

    FfmpegSource* source_;
    int streamIndex_;
    MediaType offered_;
    std::thread thread_;
    // Guarded by the source's mutex.
    std::deque<Item> queue_;
    size_t queuedBytes_ = 0;
    bool exit_ = false;
    bool flushing_ = false;
    bool busy_ = false;
    bool demuxerWaiting_ = false;  // for room in this queue, until it is low
    bool starving_ = false;        // the delivery thread waits on an empty queue
    bool refused_ = false;         // downstream failed; drop until the next flush or run
    bool discontinuity_ = true;
};

class FfmpegSource : public BaseFilter,
                     public IFileSourceFilter,
                     public IMediaSeeking,
                     public IAMOpenProgress,
                     public IStreamEnding {
public:
    explicit FfmpegSource(const CLSID& clsid);
    ~FfmpegSource() override;
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    int GetPinCount() override;
    BasePin* GetPin(int index) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    // IFileSourceFilter
    HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* type) override;
    // IAMOpenProgress: a Load in progress, or the next one, ends with E_ABORT.
    HRESULT QueryProgress(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT AbortOperation() override;
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) override;

    // IMediaSeeking (100-ns units, from the start of the file)
    HRESULT GetCapabilities(DWORD* capabilities) override;
    HRESULT GetDuration(LONGLONG* duration) override;
    HRESULT GetCurrentPosition(LONGLONG* position) override;
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                         DWORD stopFlags) override;
    HRESULT SetRate(double rate) override;
    HRESULT GetRate(double* rate) override;

    // IStreamEnding
    HRESULT EndStreamsNow() override;

protected:
    using BaseFilter::PrimaryInterface;

    struct Statistics {
        uint64_t packets = 0;
        uint64_t bytes = 0;
        int64_t bitRate = 0;
        bool failed = false;  // the stream broke (read error)
        bool running = false;
    };

    bool IsLoaded();
    bool IsStream() const { return isStream_; }
    Statistics ReadStatistics();
    // How much media the reader holds ahead of delivery: the longest stretch queued on a
    // connected pin, or `complete` once the stream has been read to its end.
    struct ReadAhead {
        REFERENCE_TIME queued = 0;
        bool complete = false;
    };
    ReadAhead MeasureReadAhead();
    // The file's or stream's tags (lower-case keys as FFmpeg names them) and stream facts.
    std::map<std::string, std::string> Metadata();
    bool HasStream(const GUID& majorType);

private:
    friend class DemuxOutputPin;
    enum class Command { None, Park, End, Exit };

    bool Seekable() const;
    HRESULT SeekDemuxer(REFERENCE_TIME target);
    void StartDemux();
    void StopDemux();
    void DemuxLoop();
    void RoutePacket(ffmpeg::PacketPtr packet);
    void EndAllStreams(std::unique_lock<std::mutex>& lock, bool failed);
    // Called by each pin that reached the point where the stream broke; the last one reports.
    void ReportBreak();
    // With the mutex held.
    bool DemuxerWaiting() const;
    bool AnyPinStarving() const;
    void SnapshotMetadata();
    void PollStreamTitle();

    ffmpeg::Interrupter interrupter_;
    ffmpeg::FormatPtr format_;
    std::wstring file_;
    bool isStream_ = false;
    std::atomic<bool> loading_{false};
    std::atomic<bool> abortLoad_{false};
    std::vector<std::unique_ptr<DemuxOutputPin>> pins_;
    std::vector<DemuxOutputPin*> pinOfStream_;
    REFERENCE_TIME origin_ = 0;  // the file's first time stamp

    std::mutex seekMutex_;  // serialises runs, stops and seeks
    std::thread demux_;
    bool needsSeek_ = false;           // the demuxer has been read since it was positioned
    REFERENCE_TIME segmentStart_ = 0;  // media time that stream time 0 stands for

    // Guards the command, the pins' queues and the statistics; changed_ wakes every waiter.
    std::mutex mutex_;
    std::condition_variable changed_;
    Command command_ = Command::None;
    bool parked_ = false;
    bool ended_ = false;
    bool errorReported_ = false;
    HRESULT breakError_ = S_OK;
    int pinsBeforeBreak_ = 0;  // pins still delivering what was read before the break
    Statistics statistics_;
    REFERENCE_TIME latest_ = 0;
    // Emptied packets handed back by the delivery threads, so the demuxer reads into them
    // instead of allocating one per packet on one thread and freeing it on another.
    std::vector<ffmpeg::PacketPtr> sparePackets_;

    std::mutex metadataMutex_;
    std::map<std::string, std::string> metadata_;
    std::string streamTitle_;
};

}  // namespace quil::filters
