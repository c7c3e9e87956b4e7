// Where to end blocks: a block pays for its trees, so it should end only where
// the symbol statistics change enough that new codes win back their cost.
#pragma once

#include <cstdint>

#include "parser.h"

namespace kp::cab::lzx {

constexpr std::uint32_t kSegmentSize = 4096;
constexpr unsigned kMaxSegments = 64;

struct Segments {
    unsigned count;
    std::uint32_t start[kMaxSegments + 1];     // chunk-relative; start[count] is the chunk's end
    bool frameStart[kMaxSegments + 1];         // an uncompressed block may start or end here
    bool storableEnd;                          // the chunk's end may close an uncompressed block
    Symbols* cumulative;                       // count + 1 entries: symbols before each segment
    std::uint64_t extraBits[kMaxSegments + 1]; // offset footer bits before each segment
};

struct BlockPlan {
    unsigned count;
    std::uint32_t start[kMaxSegments + 1]; // chunk-relative; start[count] is the chunk's end
    bool stored[kMaxSegments];
};

// Estimated bits of segments [from, to) as one compressed block.
double estimateBlockBits(const Segments& seg, unsigned from, unsigned to);

void planBlocks(const Segments& seg, BlockPlan& plan);

} // namespace kp::cab::lzx
