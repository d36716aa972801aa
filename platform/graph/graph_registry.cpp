#include "platform/graph/graph_registry.h"

#include <algorithm>
#include <mutex>

namespace quil::graph {

namespace {

struct Lists {
    std::mutex mutex;
    std::vector<SourceType> sources;
    std::vector<IntermediateType> intermediates;
    std::vector<RendererType> renderers;
};

Lists& TheLists() {
    static Lists* lists = new Lists();
    return *lists;
}

template <class T>
void AddOnce(std::vector<T>& list, const T& item) {
    for (const auto& existing : list)
        if (existing.clsid == item.clsid) return;
    list.push_back(item);
}

}  // namespace

void RegisterSourceType(const SourceType& type) {
    std::lock_guard lock(TheLists().mutex);
    AddOnce(TheLists().sources, type);
}

void RegisterIntermediateType(const IntermediateType& type) {
    std::lock_guard lock(TheLists().mutex);
    AddOnce(TheLists().intermediates, type);
}

void RegisterRendererType(const RendererType& type) {
    std::lock_guard lock(TheLists().mutex);
    AddOnce(TheLists().renderers, type);
}

std::vector<SourceType> SourceTypes() {
    std::lock_guard lock(TheLists().mutex);
    return TheLists().sources;
}

std::vector<IntermediateType> IntermediateTypes() {
    std::lock_guard lock(TheLists().mutex);
    return TheLists().intermediates;
}

std::vector<RendererType> RendererTypes() {
    std::lock_guard lock(TheLists().mutex);
    return TheLists().renderers;
}

}  // namespace quil::graph
