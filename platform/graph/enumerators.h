#pragma once

// Snapshot enumerators: the items are captured when the enumerator is made, so a graph or a
// filter may change while someone walks the list.

#include <vector>

#include "platform/graph/interfaces.h"

namespace quil {

template <class IEnum, class Item>
class SnapshotEnum : public ComImpl<IEnum> {
public:
    explicit SnapshotEnum(std::vector<ComPtr<Item>> items) : items_(std::move(items)) {}

    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            out[n] = items_[position_++].Get();
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        position_ = std::min<size_t>(position_ + count, items_.size());
        return position_ < items_.size() ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum** copy) override {
        if (!copy) return E_POINTER;
        auto clone = MakeCom<SnapshotEnum>(items_);
        clone->position_ = position_;
        *copy = clone.Detach();
        return S_OK;
    }

private:
    std::vector<ComPtr<Item>> items_;
    size_t position_ = 0;
};

using PinEnum = SnapshotEnum<IEnumPins, IPin>;
using FilterEnum = SnapshotEnum<IEnumFilters, IBaseFilter>;

class MediaTypeEnum : public ComImpl<IEnumMediaTypes> {
public:
    explicit MediaTypeEnum(std::vector<MediaType> types) : types_(std::move(types)) {}

    HRESULT Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** copy) override;

private:
    std::vector<MediaType> types_;
    size_t position_ = 0;
};

}  // namespace quil
