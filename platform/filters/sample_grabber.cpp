// "SampleGrabber": passes its input through unchanged and keeps a copy of the latest sample.

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/base_filter.h"

namespace quil::filters {

namespace {

class SampleGrabber;

class GrabberInput : public InputPin {
public:
    GrabberInput(SampleGrabber* grabber);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    SampleGrabber* grabber_;
};

class GrabberOutput : public OutputPin {
public:
    GrabberOutput(SampleGrabber* grabber);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    SampleGrabber* grabber_;
};

class SampleGrabber : public BaseFilter, public ISampleGrabber {
public:
    SampleGrabber()
        : BaseFilter(CLSID_SampleGrabber),
          input_(std::make_unique<GrabberInput>(this)),
          output_(std::make_unique<GrabberOutput>(this)) {
        wanted_.majortype = GUID_NULL;
        wanted_.formattype = GUID_NULL;
    }
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<ISampleGrabber>(iid)) return GetInterface<ISampleGrabber>(this, out);
        return BaseFilter::NonDelegatingQueryInterface(iid, out);
    }

    int GetPinCount() override { return 2; }
    BasePin* GetPin(int index) override {
        return index == 0 ? static_cast<BasePin*>(input_.get())
                          : index == 1 ? static_cast<BasePin*>(output_.get()) : nullptr;
    }

    HRESULT SetOneShot(BOOL oneShot) override {
        oneShot_ = oneShot != 0;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        std::lock_guard lock(bufferLock_);
        if (type) {
            wanted_ = *type;
        } else {
            wanted_.Reset();
            wanted_.majortype = GUID_NULL;
            wanted_.formattype = GUID_NULL;
        }
        return S_OK;
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        if (!type) return E_POINTER;
        if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
        return CopyMediaType(type, &input_->CurrentMediaType());
    }
    HRESULT SetBufferSamples(BOOL buffer) override {
        bufferSamples_ = buffer != 0;
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override {
        if (!size) return E_POINTER;
        std::lock_guard lock(bufferLock_);
        if (!bufferSamples_ || !haveSample_) return VFW_E_WRONG_STATE;
        LONG bytes = static_cast<LONG>(latest_.size());
        if (!buffer) {
            *size = bytes;
            return S_OK;
        }
        if (*size < bytes) return E_OUTOFMEMORY;
        std::memcpy(buffer, latest_.data(), latest_.size());
        *size = bytes;
        return S_OK;
    }
    HRESULT GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
    HRESULT SetCallback(ISampleGrabberCB*, LONG) override { return E_NOTIMPL; }

    bool Accepts(const MediaType& type) {
        std::lock_guard lock(bufferLock_);
        if (wanted_.majortype != GUID_NULL && wanted_.majortype != type.majortype) return false;
        if (wanted_.subtype != GUID_NULL && wanted_.subtype != type.subtype) return false;
        if (wanted_.formattype != GUID_NULL && wanted_.formattype != type.formattype) return false;
        return true;
    }

    HRESULT Pass(IMediaSample* sample) {
        if (bufferSamples_ && !(oneShot_ && haveSample_)) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            LONG length = sample->GetActualDataLength();
            std::lock_guard lock(bufferLock_);
            latest_.assign(data, data + length);
            haveSample_ = true;
        }
        if (!output_->IsConnected()) return oneShot_ ? S_FALSE : S_OK;
        HRESULT hr = output_->Deliver(sample);
        return oneShot_ && SUCCEEDED(hr) ? S_FALSE : hr;
    }

    HRESULT Pause() override {
        if (IsStopped()) {
            std::lock_guard lock(bufferLock_);
            haveSample_ = false;
            latest_.clear();
        }
        return BaseFilter::Pause();
    }

    std::unique_ptr<GrabberInput> input_;
    std::unique_ptr<GrabberOutput> output_;

private:
    using BaseFilter::PrimaryInterface;
    std::mutex bufferLock_;
    MediaType wanted_;
    std::vector<BYTE> latest_;
    bool haveSample_ = false;
    std::atomic<bool> oneShot_{false};
    std::atomic<bool> bufferSamples_{false};
};

GrabberInput::GrabberInput(SampleGrabber* grabber) : InputPin(grabber, L"Input"), grabber_(grabber) {}

HRESULT GrabberInput::CheckMediaType(const MediaType& type) {
    return grabber_->Accepts(type) ? S_OK : S_FALSE;
}

HRESULT GrabberInput::Receive(IMediaSample* sample) {
    HRESULT hr = InputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return grabber_->Pass(sample);
}

HRESULT GrabberInput::EndOfStream() {
    HRESULT hr = InputPin::EndOfStream();
    if (hr != S_OK) return hr;
    return grabber_->output_->IsConnected() ? grabber_->output_->DeliverEndOfStream() : S_OK;
}

HRESULT GrabberInput::BeginFlush() {
    InputPin::BeginFlush();
    return grabber_->output_->IsConnected() ? grabber_->output_->DeliverBeginFlush() : S_OK;
}

HRESULT GrabberInput::EndFlush() {
    InputPin::EndFlush();
    return grabber_->output_->IsConnected() ? grabber_->output_->DeliverEndFlush() : S_OK;
}

HRESULT GrabberInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return grabber_->output_->IsConnected()
               ? grabber_->output_->DeliverNewSegment(start, stop, rate)
               : S_OK;
}

GrabberOutput::GrabberOutput(SampleGrabber* grabber) : OutputPin(grabber, L"Output"), grabber_(grabber) {}

HRESULT GrabberOutput::CheckMediaType(const MediaType& type) {
    if (!grabber_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return grabber_->input_->CurrentMediaType().Matches(type) ? S_OK : S_FALSE;
}

HRESULT GrabberOutput::GetMediaType(int position, MediaType* type) {
    if (!grabber_->input_->IsConnected() || position != 0) return VFW_S_NO_MORE_ITEMS;
    *type = grabber_->input_->CurrentMediaType();
    return S_OK;
}

HRESULT GrabberOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    // Samples pass through untouched; these buffers are never filled.
    ALLOCATOR_PROPERTIES wanted{1, 1, 1, 0}, actual{};
    if (request->cbBuffer > 0) wanted.cbBuffer = request->cbBuffer;
    return allocator->SetProperties(&wanted, &actual);
}

}  // namespace

HRESULT CreateSampleGrabber(REFIID iid, void** out) {
    return CreateObject<SampleGrabber>(iid, out);
}

}  // namespace quil::filters
