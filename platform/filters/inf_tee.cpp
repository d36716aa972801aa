// "Audio PinTee": copies its input to every connected output; a new output pin appears each
// time the last one is connected.

#include <memory>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/base_filter.h"

namespace quil::filters {

namespace {

class InfTee;

class TeeInput : public InputPin {
public:
    TeeInput(InfTee* tee);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    InfTee* tee_;
};

class TeeOutput : public OutputPin {
public:
    TeeOutput(InfTee* tee, int number);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(IPin* peer) override;

private:
    InfTee* tee_;
};

class InfTee : public BaseFilter {
public:
    InfTee() : BaseFilter(CLSID_InfTee), input_(std::make_unique<TeeInput>(this)) {
        outputs_.push_back(std::make_unique<TeeOutput>(this, 1));
    }

    int GetPinCount() override { return 1 + static_cast<int>(outputs_.size()); }
    BasePin* GetPin(int index) override {
        if (index == 0) return input_.get();
        if (index < 1 || index > static_cast<int>(outputs_.size())) return nullptr;
        return outputs_[index - 1].get();
    }

    const MediaType& InputType() { return input_->CurrentMediaType(); }
    bool InputConnected() { return input_->IsConnected(); }

    // Called under the state lock when an output has just connected.
    void OutputConnected() {
        if (outputs_.back()->IsConnected())
            outputs_.push_back(std::make_unique<TeeOutput>(this, static_cast<int>(outputs_.size()) + 1));
    }

    template <class Fn>
    HRESULT ForEachConnected(Fn fn) {
        HRESULT result = S_OK;
        for (auto& output : outputs_) {
            if (!output->IsConnected()) continue;
            HRESULT hr = fn(*output);
            // One failing branch must not starve the others (a monitor without sound still
            // lets the file be written); the first failure is passed upstream at the end.
            if (hr != S_OK && result == S_OK) result = hr;
        }
        return result;
    }

private:
    std::unique_ptr<TeeInput> input_;
    std::vector<std::unique_ptr<TeeOutput>> outputs_;
};

TeeInput::TeeInput(InfTee* tee) : InputPin(tee, L"Input"), tee_(tee) {}

HRESULT TeeInput::CheckMediaType(const MediaType& type) {
    return type.majortype != GUID_NULL ? S_OK : S_FALSE;
}

HRESULT TeeInput::Receive(IMediaSample* sample) {
    HRESULT hr = InputPin::Receive(sample);
    if (hr != S_OK) return hr;
    // Every branch gets the same read-only sample; nothing is copied.
    int delivered = 0, failed = 0;
    HRESULT first = S_OK;
    tee_->ForEachConnected([&](TeeOutput& output) {
        HRESULT result = output.Deliver(sample);
        ++delivered;
        if (result != S_OK) {
            ++failed;
            if (first == S_OK) first = result;
        }
        return S_OK;
    });
    // Stop the source only when no branch takes samples any more.
    return delivered && failed == delivered ? first : S_OK;
}

HRESULT TeeInput::EndOfStream() {
    HRESULT hr = InputPin::EndOfStream();
    if (hr != S_OK) return hr;
    return tee_->ForEachConnected([](TeeOutput& output) { return output.DeliverEndOfStream(); });
}

HRESULT TeeInput::BeginFlush() {
    InputPin::BeginFlush();
    return tee_->ForEachConnected([](TeeOutput& output) { return output.DeliverBeginFlush(); });
}

HRESULT TeeInput::EndFlush() {
    InputPin::EndFlush();
    return tee_->ForEachConnected([](TeeOutput& output) { return output.DeliverEndFlush(); });
}

HRESULT TeeInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return tee_->ForEachConnected(
        [&](TeeOutput& output) { return output.DeliverNewSegment(start, stop, rate); });
}

TeeOutput::TeeOutput(InfTee* tee, int number)
    : OutputPin(tee, L"Output" + std::to_wstring(number)), tee_(tee) {}

HRESULT TeeOutput::CheckMediaType(const MediaType& type) {
    if (!tee_->InputConnected()) return VFW_E_NOT_CONNECTED;
    return tee_->InputType().Matches(type) ? S_OK : S_FALSE;
}

HRESULT TeeOutput::GetMediaType(int position, MediaType* type) {
    if (!tee_->InputConnected() || position != 0) return VFW_S_NO_MORE_ITEMS;
    *type = tee_->InputType();
    return S_OK;
}

HRESULT TeeOutput::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    // The tee passes its input's samples on; its own buffers are never filled.
    ALLOCATOR_PROPERTIES wanted{1, 1, 1, 0}, actual{};
    if (request->cBuffers > 0) wanted.cBuffers = request->cBuffers;
    if (request->cbBuffer > 0) wanted.cbBuffer = request->cbBuffer;
    return allocator->SetProperties(&wanted, &actual);
}

HRESULT TeeOutput::CompleteConnect(IPin* peer) {
    HRESULT hr = OutputPin::CompleteConnect(peer);
    if (SUCCEEDED(hr)) tee_->OutputConnected();
    return hr;
}

}  // namespace

HRESULT CreateInfTee(REFIID iid, void** out) { return CreateObject<InfTee>(iid, out); }

}  // namespace quil::filters
