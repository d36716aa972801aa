#include "platform/graph/allocator.h"

#include <algorithm>

namespace quil {

MediaSample::MediaSample(MemAllocator* allocator, LONG size)
    : allocator_(allocator), buffer_(static_cast<size_t>(std::max<LONG>(size, 0))) {}

HRESULT MediaSample::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IUnknown::kIid || iid == IMediaSample::kIid) {
        *out = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG MediaSample::AddRef() { return refs_.fetch_add(1) + 1; }

ULONG MediaSample::Release() {
    ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) allocator_->ReturnSample(this);
    return left;
}

HRESULT MediaSample::GetPointer(BYTE** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = buffer_.data();
    return S_OK;
}

HRESULT MediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    if (!start || !end) return E_POINTER;
    if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    *end = hasEnd_ ? end_ : start_ + 1;
    return hasEnd_ ? S_OK : VFW_S_NO_STOP_TIME;
}

HRESULT MediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
    hasStart_ = start != nullptr;
    hasEnd_ = end != nullptr;
    if (start) start_ = *start;
    if (end) end_ = *end;
    return S_OK;
}

HRESULT MediaSample::SetSyncPoint(BOOL sync) {
    sync_ = sync != 0;
    return S_OK;
}
HRESULT MediaSample::SetPreroll(BOOL preroll) {
    preroll_ = preroll != 0;
    return S_OK;
}
HRESULT MediaSample::SetDiscontinuity(BOOL discontinuity) {
    discontinuity_ = discontinuity != 0;
    return S_OK;
}

HRESULT MediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > GetSize()) return VFW_E_BUFFER_OVERFLOW;
    length_ = length;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    *type = nullptr;
    if (!type_) return S_FALSE;
    *type = CreateMediaType(type_.get());
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaSample::SetMediaType(AM_MEDIA_TYPE* type) {
    type_ = type ? std::make_unique<MediaType>(*type) : nullptr;
    return S_OK;
}

void MediaSample::ResetProperties() {
    length_ = 0;
    hasStart_ = hasEnd_ = false;
    sync_ = preroll_ = discontinuity_ = false;
    type_.reset();
}

MemAllocator::~MemAllocator() = default;

HRESULT MemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
    if (!request || !actual) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (outstanding_) return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cBuffers <= 0 || request->cbBuffer <= 0) return E_INVALIDARG;
    props_ = *request;
    props_.cbAlign = std::max<LONG>(request->cbAlign, 1);
    propertiesSet_ = true;
    *actual = props_;
    return S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    std::lock_guard lock(mutex_);
    *props = props_;
    return S_OK;
}

HRESULT MemAllocator::Commit() {
    std::lock_guard lock(mutex_);
    if (!propertiesSet_) return VFW_E_SIZENOTSET;
    if (committed_) return S_OK;
    if (outstanding_ == 0) {
        // Buffers are made afresh for each streaming run, so a size change takes effect.
        free_.clear();
        samples_.clear();
        for (LONG i = 0; i < props_.cBuffers; ++i) {
            samples_.push_back(std::make_unique<MediaSample>(this, props_.cbBuffer));
            free_.push_back(samples_.back().get());
        }
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    std::lock_guard lock(mutex_);
    committed_ = false;
    freed_.notify_all();
    return S_OK;
}

HRESULT MemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return !committed_ || !free_.empty(); });
    if (!committed_) return VFW_E_NOT_COMMITTED;
    MediaSample* taken = free_.back();
    free_.pop_back();
    ++outstanding_;
    taken->ResetProperties();
    taken->AddRef();
    // Every sample out keeps the allocator alive until it comes back.
    NonDelegatingAddRef();
    *sample = taken;
    return S_OK;
}

HRESULT MemAllocator::ReleaseBuffer(IMediaSample*) { return S_OK; }

void MemAllocator::ReturnSample(MediaSample* sample) {
    {
        std::lock_guard lock(mutex_);
        --outstanding_;
        free_.push_back(sample);
        freed_.notify_one();
    }
    NonDelegatingRelease();
}

}  // namespace quil
