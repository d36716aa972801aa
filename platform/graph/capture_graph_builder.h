#pragma once

#include "platform/graph/interfaces.h"

namespace quil {

// Finds the capture pin of a device filter and its interfaces.
class CaptureGraphBuilder : public ComImpl<ICaptureGraphBuilder2> {
public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT GetFiltergraph(IGraphBuilder** graph) override;
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                          void** out) override;
    HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                    const GUID* type, BOOL unconnected, int index, IPin** pin) override;

private:
    ComPtr<IGraphBuilder> graph_;
};

}  // namespace quil
