// Constants of the LZX bit stream as cabinet decoders read it, and the mapping
// between match offsets and position slots that every other part shares.
//
// What cabinet decoders (Windows' own, libmspack, 7-Zip, wimlib) take, where they
// are stricter than the LZX document or disagree with each other, and where the
// encoder keeps within it:
//
// - No match reaches back the whole window: 7-Zip reads wrong bytes at the format's
//   farthest distance. maxOffset below; the match finder never offers more.
// - No match reaches before the folder's first byte, nor crosses a frame's end: each
//   frame is decoded alone. parser.cpp (matchRoom), checked by Parser::check in the
//   expensive-checks build; the finder's skip after a long match stops at the frame's end
//   (Encoder::search).
// - A frame's compressed size is at most kMaxBlockData (codec.h), the input buffer of
//   libmspack and Windows. Encoder::writeChunk falls back to one block per frame;
//   Tuning::frameLimit.
// - Every Huffman code is complete, even with one symbol or none used: decoders
//   reject the rest. buildCodeLengths (huffman.cpp).
// - A run of kEqualRun in the pretree is read by some decoders as one delta for all
//   its lengths and by others as a delta per length: runs are coded only where both
//   readings agree. tree_coder.cpp.
// - The padding before an uncompressed block's repeated offsets is 1 to 16 bits,
//   never none. writeUncompressedBlock (block_writer.cpp).
// - Uncompressed blocks hold whole frames, so that they start on a word where no
//   decoder doubts the alignment, and none ends the stream with an odd size, since
//   decoders disagree on the pad byte after it. Encoder::encodeBlocks and
//   Encoder::storableEnd.
// - E8 translation is announced once in the stream header (kE8TranslationSize) and
//   applied only to frames before kE8FrameLimit and longer than ten bytes, as decoders
//   undo it. e8Translate (e8.cpp); Encoder::writeChunk writes the header.
// - Frames are kFrameSize bytes, the folder's last one shorter, each a CFDATA block of
//   its own: the cabinet writer cuts the folder's stream at the same size, which
//   codec.cpp asserts.
#pragma once

#include <cstdint>

namespace kp::cab::lzx {

// Windows of 2^15 (32 KB) to 2^21 (2 MB) bytes, given as base-2 logarithms.
constexpr unsigned kMinWindowBits = 15;
constexpr unsigned kMaxWindowBits = 21;
constexpr bool windowBitsValid(long long bits) {
    return bits >= kMinWindowBits && bits <= kMaxWindowBits;
}

constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;
constexpr unsigned kNumChars = 256;
constexpr unsigned kNumPrimaryLengths =
    7; // length headers 0..6 stand alone, 7 needs the length tree
constexpr unsigned kNumLengthSymbols = 249; // length tree
constexpr unsigned kNumAlignedSymbols = 8;
constexpr unsigned kNumPretreeSymbols = 20;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMaxMainSymbols = kNumChars + kMaxSlots * 8;
constexpr unsigned kMaxCodeLength = 16;    // main and length trees
constexpr unsigned kMaxPretreeLength = 15; // sent in 4 bits
constexpr unsigned kMaxAlignedLength = 7;  // sent in 3 bits
constexpr unsigned kNumRepeats = 3;

// Pretree symbols below kZeroRun change one length by (previous - new) modulo
// kZeroRun; the three above code runs, their length in the extra bits that follow.
constexpr unsigned kZeroRun = 17;     // 4 bits: 4 to 19 zero lengths
constexpr unsigned kLongZeroRun = 18; // 5 bits: 20 to 51 zero lengths
constexpr unsigned kEqualRun = 19;    // 1 bit: 4 or 5 equal lengths, then their change symbol
static_assert(kZeroRun == kMaxCodeLength + 1, "a change symbol for every length");

enum BlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

// The decoder's unit: its output is aligned, and its E8 translation counted, in frames
// of this many bytes, which is why the encoder never lets a match cross a frame's end.
constexpr std::uint32_t kFrameSize = 32768;

// Decoders stop translating E8 calls after this many frames.
constexpr std::uint32_t kE8FrameLimit = 32768;
// What Microsoft's compressors announce; any size works, this one suits programs up to 12 MB.
constexpr std::uint32_t kE8TranslationSize = 12000000;

constexpr unsigned slotsForWindow(unsigned windowBits) {
    return windowBits == 21 ? 50 : windowBits == 20 ? 42 : 30 + (windowBits - 15) * 2;
}

// The format lets a match reach back the window minus three bytes, but 7-Zip's
// decoder (Debian 12 ships 26.02) copies a few bytes past the end of each match
// into the oldest history and so reads wrong bytes at exactly that distance.
// One byte less costs nothing measurable.
constexpr std::uint32_t maxOffset(unsigned windowBits) {
    return (1u << windowBits) - 4;
}

constexpr unsigned slotExtraBits(unsigned slot) {
    return slot < 4 ? 0 : slot < 36 ? (slot - 2) / 2 : 17;
}

struct SlotBases {
    std::uint32_t base[kMaxSlots + 1];
    constexpr SlotBases() : base() {
        for (unsigned s = 0; s < kMaxSlots; ++s) {
            base[s + 1] = base[s] + (1u << slotExtraBits(s));
        }
    }
};
inline constexpr SlotBases kSlotBases{};

inline std::uint32_t slotBase(unsigned slot) {
    return kSlotBases.base[slot];
}

// Formatted offsets 0..2 name the repeated offsets R0..R2; a real offset d is d + 2.
inline unsigned slotOf(std::uint32_t formatted) {
    if (formatted < 4) {
        return formatted;
    }
    if (formatted >= 262144) {
        return 36 + ((formatted - 262144) >> 17);
    }
    unsigned log = 31 - unsigned(__builtin_clz(formatted));
    return 2 * log + ((formatted >> (log - 1)) & 1);
}

inline unsigned lengthHeader(unsigned length) {
    unsigned h = length - kMinMatch;
    return h < kNumPrimaryLengths ? h : kNumPrimaryLengths;
}

inline unsigned mainSymbol(unsigned slot, unsigned length) {
    return kNumChars + slot * 8 + lengthHeader(length);
}

} // namespace kp::cab::lzx
