// Near-optimal parsing: a shortest path over the block's positions where every
// literal, repeated-offset match and found match is an edge priced by the
// current code lengths. Each node carries the repeated offsets of its best path.
#pragma once

#include <cstdint>

#include "lzx_format.h"
#include "match_finder.h"

namespace kp::cab::lzx {

// length 1: a literal; otherwise a match with its formatted offset (0..2 repeats).
struct Item {
    std::uint32_t offset;
    std::uint32_t length;
};

struct Repeats {
    std::uint32_t r[kNumRepeats];
};

// Bit prices of every symbol, taken from code lengths.
struct CostModel {
    std::uint32_t main[kMaxMainSymbols];
    std::uint32_t length[kNumLengthSymbols];
    std::uint32_t aligned[kNumAlignedSymbols];
    bool useAligned;

    // Unused symbols get a price that lets the parser try them.
    void fromLengths(const std::uint8_t* mainLengths, const std::uint8_t* lengthLengths,
                     const std::uint8_t* alignedLengths, bool aligned);
    // Before any statistics: literals by their frequency in the block, matches flat.
    void initial(const std::uint8_t* data, std::uint32_t size);
    std::uint32_t offsetCost(std::uint32_t formatted, unsigned slot) const;
};

struct Symbols {
    std::uint32_t main[kMaxMainSymbols];
    std::uint32_t length[kNumLengthSymbols];
    std::uint32_t aligned[kNumAlignedSymbols];
    void clear();
    void add(const Item* items, unsigned count, const std::uint8_t* data);
};

// The edge into a node is one item (length, offset), or, where lead is not zero, a
// match of lead bytes at leadOffset, one literal, and then the item, a match
// that repeats the lead's offset.
struct ParseNode {
    std::uint32_t cost;
    std::uint32_t length;
    std::uint32_t offset;
    std::uint32_t lead;
    std::uint32_t leadOffset;
    Repeats reps;
};

// The matches found for one chunk of positions.
struct MatchCache {
    const std::uint32_t* first; // per position, index of its first match; one more entry at the end
    const Match* matches;
};

struct Parser {
    const std::uint8_t* data; // data[0] is position base
    std::uint32_t base;
    std::uint32_t streamStart; // position of the folder stream's first byte
    std::uint32_t cacheStart;  // position of the cache's first entry
    MatchCache cache;
    ParseNode* nodes; // block length + 1
    unsigned nice;
    std::uint32_t maxOffset; // of the window

    // Parses positions [start, end), which lie in one chunk; reps enter as the
    // block's initial repeated offsets and leave as its final ones. items needs
    // end - start entries; returns how many it used. The path's price in the
    // model's bits is then nodes[end - start].cost.
    unsigned parse(std::uint32_t start, std::uint32_t end, const CostModel& costs, Repeats& reps,
                   Item* items) const;

    // Stops the program unless the items cover [start, end), every match copies
    // what the data holds, from within the stream and the window, inside one
    // frame, and the repeated offsets a decoder keeps end as `after`.
    void check(std::uint32_t start, std::uint32_t end, Repeats reps, const Repeats& after,
               const Item* items, unsigned count) const;
};

} // namespace kp::cab::lzx
