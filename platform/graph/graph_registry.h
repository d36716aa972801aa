#pragma once

// What the graph builder may choose from when it renders or connects intelligently: source
// filters by file content, intermediate filters (converters, decoders) and renderers by major
// type. The filter layers fill these lists when they register their classes.

#include <string>
#include <vector>

#include "platform/com/class_registry.h"

namespace quil::graph {

// True when the source filter can read the file (it may look at the first bytes).
using SourceProbe = bool (*)(const std::string& path, const std::vector<uint8_t>& head);

struct SourceType {
    CLSID clsid;
    SourceProbe probe;
};
struct IntermediateType {
    CLSID clsid;
    const wchar_t* name;
};
struct RendererType {
    GUID majorType;
    CLSID clsid;
    const wchar_t* name;
};

// Earlier registrations are tried first.
void RegisterSourceType(const SourceType& type);
void RegisterIntermediateType(const IntermediateType& type);
void RegisterRendererType(const RendererType& type);

std::vector<SourceType> SourceTypes();
std::vector<IntermediateType> IntermediateTypes();
std::vector<RendererType> RendererTypes();

// Registers the filter graph, the capture graph builder and the system clock classes.
void RegisterGraphClasses();

}  // namespace quil::graph
