#include "platform/DosTime.h"

#include "platform/LastError.h"

#include <cerrno>
#include <cstdlib>

namespace kp::platform {

namespace {

bool toDosDateTime(const std::tm* broken, DosDateTime& result) {
    if (!broken) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    int year = broken->tm_year + 1900;
    if (year < 1980 || year > 2107) {
        setLastError(kErrorInvalidParameter);
        return false;
    }
    // A leap second (tm_sec 60) would overflow the 5-bit field; DOS has none.
    int secondPairs = (broken->tm_sec > 59 ? 59 : broken->tm_sec) / 2;
    result.date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((broken->tm_mon + 1) << 5) |
                                             broken->tm_mday);
    result.time =
        static_cast<std::uint16_t>((broken->tm_hour << 11) | (broken->tm_min << 5) | secondPairs);
    setLastError(kErrorSuccess);
    return true;
}

} // namespace

bool localDosDateTime(const std::timespec& moment, DosDateTime& result) {
    std::tm local{};
    std::time_t seconds = moment.tv_sec;
    return toDosDateTime(::localtime_r(&seconds, &local), result);
}

bool utcDosDateTime(const std::timespec& moment, DosDateTime& result) {
    std::tm universal{};
    std::time_t seconds = moment.tv_sec;
    return toDosDateTime(::gmtime_r(&seconds, &universal), result);
}

std::optional<std::time_t> sourceDateEpoch(bool* malformed) {
    if (malformed) {
        *malformed = false;
    }
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) {
        return std::nullopt;
    }
    bool digitsOnly = true;
    for (const char* c = text; *c; ++c) {
        digitsOnly = digitsOnly && *c >= '0' && *c <= '9';
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long seconds = digitsOnly ? std::strtoull(text, &end, 10) : 0;
    if (!digitsOnly || errno == ERANGE || seconds > 253402300799ULL) { // past 9999-12-31
        if (malformed) {
            *malformed = true;
        }
        return std::nullopt;
    }
    return static_cast<std::time_t>(seconds);
}

DosDateTime dosDateTimeOrNearest(const std::timespec& written) {
    std::timespec moment = written;
    DosDateTime result;
    if (std::optional<std::time_t> epoch = sourceDateEpoch()) {
        if (moment.tv_sec > *epoch) {
            moment = {*epoch, 0};
        }
        if (utcDosDateTime(moment, result)) {
            return result;
        }
    } else if (localDosDateTime(moment, result)) {
        return result;
    }
    constexpr std::time_t kMiddleOfDosRange = 2335219200; // 2044-01-01, halfway 1980 to 2108
    if (moment.tv_sec < kMiddleOfDosRange) {
        return {static_cast<std::uint16_t>((1 << 5) | 1), 0};
    }
    return {static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31),
            static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29)};
}

} // namespace kp::platform
