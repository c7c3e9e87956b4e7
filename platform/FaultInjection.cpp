#include "platform/FaultInjection.h"

#include <mutex>
#include <vector>

namespace kp::platform {
namespace {

std::mutex faultsMutex;
std::vector<Fault> faults;

} // namespace

void injectFault(const Fault& fault) {
    std::lock_guard lock(faultsMutex);
    faults.push_back(fault);
}

void clearFaults() {
    std::lock_guard lock(faultsMutex);
    faults.clear();
}

std::optional<std::uint32_t> takeFault(FileOperation operation, const std::string& path) {
    std::lock_guard lock(faultsMutex);
    for (Fault& fault : faults) {
        if (fault.operation != operation || fault.times == 0) {
            continue;
        }
        if (!fault.pathContains.empty() && path.find(fault.pathContains) == std::string::npos) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.times > 0) {
            --fault.times;
        }
        return fault.error;
    }
    return std::nullopt;
}

} // namespace kp::platform
