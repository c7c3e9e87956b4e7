// The callbacks the binding hands to the cabinet service. Each one catches every
// exception, marks the context and fails, so no exception crosses the service.
#pragma once

#include "fci.h"

namespace kp {

FNFCIALLOC(FciAlloc);
FNFCIFREE(FciFree);
FNFCIOPEN(FciOpen);
FNFCIREAD(FciRead);
FNFCIWRITE(FciWrite);
FNFCICLOSE(FciClose);
FNFCISEEK(FciSeek);
FNFCIDELETE(FciDelete);
FNFCIGETTEMPFILE(FciGetTempFile);
FNFCIFILEPLACED(FciFilePlaced);
FNFCISTATUS(FciStatus);
FNFCISTATUS(FciFlushStatus);
FNFCIGETNEXTCABINET(FciGetNextCabinet);
FNFCIGETOPENINFO(FciGetOpenInfo);

// The prefix of every temporary file of the service.
inline constexpr const char* kTempFilePrefix = "kFw";

} // namespace kp
