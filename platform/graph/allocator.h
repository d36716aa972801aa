#pragma once

// The memory allocator and its samples: a fixed pool of buffers that the output pin of a
// connection fills and the input pin consumes. A sample goes back to the pool when its last
// reference is released.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/graph/interfaces.h"

namespace quil {

class MemAllocator;

class MediaSample final : public IMediaSample {
public:
    MediaSample(MemAllocator* allocator, LONG size);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE** buffer) override;
    LONG GetSize() override { return static_cast<LONG>(buffer_.size()); }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    HRESULT IsSyncPoint() override { return sync_ ? S_OK : S_FALSE; }
    HRESULT SetSyncPoint(BOOL sync) override;
    HRESULT IsPreroll() override { return preroll_ ? S_OK : S_FALSE; }
    HRESULT SetPreroll(BOOL preroll) override;
    LONG GetActualDataLength() override { return length_; }
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT IsDiscontinuity() override { return discontinuity_ ? S_OK : S_FALSE; }
    HRESULT SetDiscontinuity(BOOL discontinuity) override;

private:
    friend class MemAllocator;
    void ResetProperties();

    MemAllocator* allocator_;
    std::atomic<ULONG> refs_{0};
    std::vector<BYTE> buffer_;
    LONG length_ = 0;
    REFERENCE_TIME start_ = 0, end_ = 0;
    bool hasStart_ = false, hasEnd_ = false;
    bool sync_ = false, preroll_ = false, discontinuity_ = false;
    std::unique_ptr<MediaType> type_;
};

class MemAllocator : public ComImpl<IMemAllocator> {
public:
    MemAllocator() = default;
    ~MemAllocator() override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                      DWORD flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;

private:
    void ReturnSample(MediaSample* sample);
    friend class MediaSample;

    std::mutex mutex_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{};
    bool committed_ = false;
    bool propertiesSet_ = false;
    int outstanding_ = 0;
    std::vector<std::unique_ptr<MediaSample>> samples_;
    std::vector<MediaSample*> free_;
};

}  // namespace quil
