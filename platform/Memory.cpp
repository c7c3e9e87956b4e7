#include "platform/Memory.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <cstdlib>

namespace kp::platform {

void* heapAllocate(std::size_t bytes) {
    if (auto fault = takeFault(FileOperation::Allocate, "")) {
        setLastError(*fault);
        return nullptr;
    }
    void* block = std::malloc(bytes);
    if (!block) {
        setLastError(kErrorNotEnoughMemory);
    }
    return block;
}

void heapFree(void* block) {
    std::free(block);
}

} // namespace kp::platform
