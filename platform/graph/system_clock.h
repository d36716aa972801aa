#pragma once

#include <chrono>

#include "platform/graph/interfaces.h"

namespace quil {

// The graph's clock when no filter offers one: the monotonic system clock in 100-ns units.
class SystemClock : public ComImpl<IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* time) override {
        if (!time) return E_POINTER;
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        *time = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
        return S_OK;
    }
};

}  // namespace quil
