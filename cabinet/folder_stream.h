// The open folder's stream: its files' bytes go through the folder's codec (on worker
// threads where the context has them) into CFDATA records, until the folder is closed
// and placed into the cabinet(s).
#pragma once

#include <cstdint>

#include "codec.h"
#include "fci_context.h"

namespace kp::cab {

// The open folder. openFolder expects no folder to be open (a previous one closed or
// never opened) and `codec` to be the one codecFor gave for `typeCompress` and
// `windowBits`.
bool openFolder(Context& c, TCOMP typeCompress, const CodecOps* codec, unsigned windowBits);
// Hands `size` bytes of the current file to the folder's stream; the folder is open.
bool feedFolder(Context& c, const std::uint8_t* data, std::uint32_t size);
// Ends the folder's stream and places it into the cabinet(s). Any failure breaks the context.
bool closeFolder(Context& c);

// Takes out the blocks compressed on other threads, oldest first, as the folder's
// own, while the oldest was handed over in an earlier call than this one (`all`:
// every block due by now). A failure breaks the context and drops the rest.
bool drainPool(Context& c, bool all);
// Whether blocks due but not yet taken out could change what the end of a file
// decides (the folder threshold, or the cabinet's room for the folder): then they
// are taken out first.
bool pendingBlocksMatter(const Context& c);

} // namespace kp::cab
