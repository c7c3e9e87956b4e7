// The general heap, behind the fault seam so that tests can exhaust it on demand.
#pragma once

#include <cstddef>

namespace kp::platform {

// Null when memory is exhausted (or an Allocate fault is injected), with
// kErrorNotEnoughMemory as the last error.
void* heapAllocate(std::size_t bytes);
void heapFree(void* block);

} // namespace kp::platform
