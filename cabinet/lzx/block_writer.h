// Codes of one block, what the block costs in bits, and writing it out,
// cutting the output into frames as the data passes their ends.
#pragma once

#include <cstdint>

#include "bit_writer.h"
#include "lzx_format.h"
#include "parser.h"

namespace kp::cab::lzx {

// Every block starts with its type and its uncompressed size.
constexpr unsigned kBlockHeaderBits = 3 + 24;
// The aligned tree, eight lengths of three bits, that an aligned block adds.
constexpr unsigned kAlignedTreeBits = 3 * kNumAlignedSymbols;
// What an uncompressed block adds to its bytes at the most: the header, one to
// sixteen bits of padding and the repeated offsets (an odd block's pad byte aside).
constexpr unsigned kUncompressedOverheadBits = kBlockHeaderBits + 16 + 32 * kNumRepeats;

struct Codes {
    std::uint8_t mainLengths[kMaxMainSymbols];
    std::uint16_t mainCodes[kMaxMainSymbols];
    std::uint8_t lengthLengths[kNumLengthSymbols];
    std::uint16_t lengthCodes[kNumLengthSymbols];
    std::uint8_t alignedLengths[kNumAlignedSymbols];
    std::uint16_t alignedCodes[kNumAlignedSymbols];

    void build(const Symbols& symbols, unsigned numMain);
};

// Tree lengths as the decoder last received them; a new stream starts at zero.
struct TreeHistory {
    std::uint8_t main[kMaxMainSymbols];
    std::uint8_t length[kNumLengthSymbols];
};

// Where the output must be cut: after each frame's last byte, at a word boundary.
struct FrameCutter {
    const std::uint32_t* frameEnds; // stream positions, ascending
    std::uint32_t* cuts;            // output byte offsets, one per frame
    unsigned next;
    // Bit f set: frame f's last bit ended a word, so it has no padding.
    std::uint32_t unpadded = 0;

    void at(BitWriter& out, std::uint32_t streamPos) {
        if (streamPos == frameEnds[next]) {
            if (out.aligned()) {
                unpadded |= std::uint32_t(1) << next;
            }
            out.alignToWord();
            cuts[next++] = std::uint32_t(out.size());
        }
    }
};

// Header bits plus trees of a verbatim or aligned block.
std::uint64_t treeCost(const Codes& codes, const TreeHistory& history, unsigned numMain,
                       bool aligned);
// Bits of the block's symbols under codes, and the same with the aligned tree.
void symbolCosts(const Item* items, unsigned count, const std::uint8_t* data, const Codes& codes,
                 std::uint64_t* verbatim, std::uint64_t* aligned);

// The items cover exactly the block's `size` bytes (under 2^24), which start at
// data, at streamPos in the stream, where the cutter looks for frame ends. The
// trees go out as changes against history, which then holds the block's lengths.
void writeCompressedBlock(BitWriter& out, FrameCutter& cutter, BlockType type, const Item* items,
                          unsigned count, const std::uint8_t* data, std::uint32_t streamPos,
                          std::uint32_t size, const Codes& codes, TreeHistory& history,
                          unsigned numMain);

// The block stores the repeated offsets a decoder continues with after it: reps
// must be those in force where the block starts, which it leaves unchanged.
void writeUncompressedBlock(BitWriter& out, FrameCutter& cutter, const std::uint8_t* data,
                            std::uint32_t streamPos, std::uint32_t size, const Repeats& reps);

} // namespace kp::cab::lzx
