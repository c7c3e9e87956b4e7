#include "platform/DosTime.h"

#include "platform/LastError.h"

namespace kp::platform {

bool localDosDateTime(const std::timespec& moment, DosDateTime& result) {
    std::tm local{};
    std::time_t seconds = moment.tv_sec;
    if (!::localtime_r(&seconds, &local)) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    // A leap second (tm_sec 60) would overflow the 5-bit field; DOS has none.
    int secondPairs = (local.tm_sec > 59 ? 59 : local.tm_sec) / 2;
    result.date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) |
                                             local.tm_mday);
    result.time =
        static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | secondPairs);
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
