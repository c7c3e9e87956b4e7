#include "block_writer.h"

#include "huffman.h"
#include "tree_coder.h"

namespace kp::cab::lzx {

namespace {

void writeBlockHeader(BitWriter& out, BlockType type, std::uint32_t size) {
    out.put(type, 3);
    out.put(size >> 8, 16);
    out.put(size & 0xFF, 8);
}

} // namespace

void Codes::build(const Symbols& symbols, unsigned numMain) {
    buildCodeLengths(symbols.main, numMain, kMaxCodeLength, mainLengths);
    for (unsigned s = numMain; s < kMaxMainSymbols; ++s) {
        mainLengths[s] = 0;
    }
    assignCodes(mainLengths, numMain, mainCodes);
    buildCodeLengths(symbols.length, kNumLengthSymbols, kMaxCodeLength, lengthLengths);
    assignCodes(lengthLengths, kNumLengthSymbols, lengthCodes);
    buildCodeLengths(symbols.aligned, kNumAlignedSymbols, kMaxAlignedLength, alignedLengths);
    assignCodes(alignedLengths, kNumAlignedSymbols, alignedCodes);
}

std::uint64_t treeCost(const Codes& codes, const TreeHistory& history, unsigned numMain,
                       bool aligned) {
    std::uint64_t bits = kBlockHeaderBits;
    if (aligned) {
        bits += kAlignedTreeBits;
    }
    bits += lengthsCost(codes.mainLengths, history.main, kNumChars);
    bits +=
        lengthsCost(codes.mainLengths + kNumChars, history.main + kNumChars, numMain - kNumChars);
    bits += lengthsCost(codes.lengthLengths, history.length, kNumLengthSymbols);
    return bits;
}

void symbolCosts(const Item* items, unsigned count, const std::uint8_t* data, const Codes& codes,
                 std::uint64_t* verbatim, std::uint64_t* aligned) {
    std::uint64_t common = 0;
    std::uint64_t lowBitsVerbatim = 0;
    std::uint64_t lowBitsAligned = 0;
    for (unsigned i = 0; i < count; ++i) {
        const Item& it = items[i];
        if (it.length == 1) {
            common += codes.mainLengths[*data++];
            continue;
        }
        unsigned slot = slotOf(it.offset);
        common += codes.mainLengths[mainSymbol(slot, it.length)];
        if (lengthHeader(it.length) == kNumPrimaryLengths) {
            common += codes.lengthLengths[it.length - kMinMatch - kNumPrimaryLengths];
        }
        unsigned extra = slotExtraBits(slot);
        if (extra >= 3) {
            common += extra - 3;
            lowBitsVerbatim += 3;
            lowBitsAligned += codes.alignedLengths[it.offset & 7];
        } else {
            common += extra;
        }
        data += it.length;
    }
    *verbatim = common + lowBitsVerbatim;
    *aligned = common + lowBitsAligned;
}

void writeCompressedBlock(BitWriter& out, FrameCutter& cutter, BlockType type, const Item* items,
                          unsigned count, const std::uint8_t* data, std::uint32_t streamPos,
                          std::uint32_t size, const Codes& codes, TreeHistory& history,
                          unsigned numMain) {
    writeBlockHeader(out, type, size);
    if (type == kAligned) {
        for (unsigned s = 0; s < kNumAlignedSymbols; ++s) {
            out.put(codes.alignedLengths[s], 3);
        }
    }
    writeLengths(out, codes.mainLengths, history.main, kNumChars);
    writeLengths(out, codes.mainLengths + kNumChars, history.main + kNumChars, numMain - kNumChars);
    writeLengths(out, codes.lengthLengths, history.length, kNumLengthSymbols);
    for (unsigned s = 0; s < numMain; ++s) {
        history.main[s] = codes.mainLengths[s];
    }
    for (unsigned s = 0; s < kNumLengthSymbols; ++s) {
        history.length[s] = codes.lengthLengths[s];
    }

    for (unsigned i = 0; i < count; ++i) {
        const Item& it = items[i];
        if (it.length == 1) {
            out.put(codes.mainCodes[*data], codes.mainLengths[*data]);
            ++data;
        } else {
            unsigned slot = slotOf(it.offset);
            unsigned sym = mainSymbol(slot, it.length);
            out.put(codes.mainCodes[sym], codes.mainLengths[sym]);
            if (lengthHeader(it.length) == kNumPrimaryLengths) {
                unsigned l = it.length - kMinMatch - kNumPrimaryLengths;
                out.put(codes.lengthCodes[l], codes.lengthLengths[l]);
            }
            unsigned extra = slotExtraBits(slot);
            std::uint32_t bits = it.offset - slotBase(slot);
            if (type == kAligned && extra >= 3) {
                out.put(bits >> 3, extra - 3);
                out.put(codes.alignedCodes[bits & 7], codes.alignedLengths[bits & 7]);
            } else {
                out.put(bits, extra);
            }
            data += it.length;
        }
        streamPos += it.length;
        cutter.at(out, streamPos);
    }
}

void writeUncompressedBlock(BitWriter& out, FrameCutter& cutter, const std::uint8_t* data,
                            std::uint32_t streamPos, std::uint32_t size, const Repeats& reps) {
    writeBlockHeader(out, kUncompressed, size);
    // Decoders skip one to sixteen bits here, never none.
    if (out.aligned()) {
        out.put(0, 16);
    } else {
        out.alignToWord();
    }
    for (unsigned j = 0; j < kNumRepeats; ++j) {
        for (unsigned b = 0; b < 32; b += 8) {
            out.byte(std::uint8_t(reps.r[j] >> b));
        }
    }
    for (std::uint32_t i = 0; i < size; ++i) {
        out.byte(data[i]);
        cutter.at(out, streamPos + i + 1);
    }
    if (size & 1) {
        out.byte(0);
    }
}

} // namespace kp::cab::lzx
