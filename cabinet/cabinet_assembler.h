// The cabinet under construction: closed folders placed into it, the set's next
// cabinet asked for when one fills up, and each cabinet written out when done.
#pragma once

#include <cstdint>

#include "fci_context.h"

namespace kp::cab {

// Whether each of the CCAB's names ends within its field, as a client must leave them.
bool ccabNamesTerminated(const CCAB& ccab);
// Asks the client for the names of the cabinet after the current one, telling it
// `estimate` as the current one's size; `next` is the current CCAB with iCab one up,
// as the client left it. False, with the failure recorded, when the client refuses
// or leaves a name that is empty or does not end within its field.
bool askNextCabinet(Context& c, std::uint64_t estimate, CCAB& next);
// The size the current cabinet's file would have, written now as the last of its set.
std::uint64_t cabinetSizeWithoutNext(const Context& c);
// Moves the closed folder's blocks and file records into the cabinet, starting
// further cabinets while it does not fit. Any failure breaks the context.
bool placeFolder(Context& c);
// Asks for the next cabinet's names, writes the current one pointing to it and
// starts the next one empty.
bool startNextCabinet(Context& c);
// Writes the current cabinet as the last of its set. On failure the cabinet
// stays pending and a later call may try again.
bool writeLastCabinet(Context& c);

} // namespace kp::cab
