// Sends a range of tree code lengths through the 20-symbol pretree, as changes
// against the lengths the decoder holds from the previous block.
#pragma once

#include <cstdint>

#include "bit_writer.h"

namespace kp::cab::lzx {

// One pretree item: a delta below kZeroRun, or one of the runs (lzx_format.h).
struct PretreeItem {
    std::uint8_t symbol;
    std::uint8_t extra;         // a run's length, less its shortest
    std::uint8_t repeatedDelta; // the delta symbol that follows kEqualRun
};

// Splits lengths[0..n) into pretree items; returns how many (at most n).
unsigned pretreeItems(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n,
                      PretreeItem* items);

// Writes the pretree and the items; returns the number of bits written.
std::uint64_t writeLengths(BitWriter& out, const std::uint8_t* lengths,
                           const std::uint8_t* previous, unsigned n);

// Bits writeLengths would write.
std::uint64_t lengthsCost(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n);

} // namespace kp::cab::lzx
