// The callbacks the binding hands to the cabinet service. Each one catches every
// exception, marks the context and fails, so no exception crosses the service.
#pragma once

#include "fci.h"
#include "platform/DosTime.h"

namespace kp {

FNFCIALLOC(fciAlloc);
FNFCIFREE(fciFree);
FNFCIOPEN(fciOpen);
FNFCIREAD(fciRead);
FNFCIWRITE(fciWrite);
FNFCICLOSE(fciClose);
FNFCISEEK(fciSeek);
FNFCIDELETE(fciDelete);
FNFCIGETTEMPFILE(fciGetTempFile);
FNFCIFILEPLACED(fciFilePlaced);
FNFCISTATUS(fciStatus);
FNFCISTATUS(fciFlushStatus);
FNFCIGETNEXTCABINET(fciGetNextCabinet);
FNFCIGETOPENINFO(fciGetOpenInfo);

// The date and time a file is stored with: its last write in local time. DOS cannot
// hold a time before 1980 or after 2107: such files get the nearest end. Under
// SOURCE_DATE_EPOCH the write is clamped to that moment and taken in universal time,
// so that the same tree gives the same cabinet in any zone.
kp::platform::DosDateTime dosDateTimeOrNearest(const std::timespec& moment);

// The prefix of every temporary file of the service.
inline constexpr const char* kTempFilePrefix = "kFw";

} // namespace kp
