// The callbacks the binding hands to the cabinet service. Each one catches every
// exception, marks the context and fails, so no exception crosses the service.
#pragma once

#include "fci.h"

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

// The prefix of every temporary file of the service.
inline constexpr const char* kTempFilePrefix = "kFw";

} // namespace kp
