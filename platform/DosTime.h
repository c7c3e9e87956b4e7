// Local time in the MS-DOS date and time format that cabinets store.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

namespace kp::platform {

struct DosDateTime {
    std::uint16_t date = 0; // bits 15-9 year since 1980, 8-5 month, 4-0 day
    std::uint16_t time = 0; // bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2
};

// Converts a moment to local time and that to the DOS pair. Fails with
// kErrorInvalidParameter outside 1980-01-01 to 2107-12-31, which DOS cannot hold.
bool localDosDateTime(const std::timespec& moment, DosDateTime& result);

// The same in universal time, for output that must not depend on the zone it was made in.
bool utcDosDateTime(const std::timespec& moment, DosDateTime& result);

// The date and time a file is stored with: its last write in local time. DOS cannot
// hold a time before 1980 or after 2107: such files get the nearest end. Under
// SOURCE_DATE_EPOCH the write is clamped to that moment and taken in universal time,
// so that the same tree gives the same cabinet in any zone.
DosDateTime dosDateTimeOrNearest(const std::timespec& moment);

// The reproducible-builds SOURCE_DATE_EPOCH: none when unset or empty, and none with
// malformed set when it is not a plain decimal count of seconds since 1970.
std::optional<std::time_t> sourceDateEpoch(bool* malformed = nullptr);

} // namespace kp::platform
