// Constants of the LZX bit stream as cabinet decoders read it, and the mapping
// between match offsets and position slots that every other part shares.
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
