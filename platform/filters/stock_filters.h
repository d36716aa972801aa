#pragma once

#include "platform/com/class_registry.h"
#include "platform/filters/class_ids.h"

namespace quil::filters {

// Registers every stock filter with the class registry and tells the graph builder which of
// them are sources, converters, decoders and renderers. Safe to call more than once.
void RegisterStockFilters();

}  // namespace quil::filters
