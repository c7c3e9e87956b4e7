// Binary-tree match finder over the whole window: every position is a node in
// a tree of earlier positions sharing its three-byte hash, ordered by the bytes
// that follow, so one descent finds the longest match for each distance range.
#pragma once

#include <cstdint>

#include "lzx_format.h"

namespace kp::cab::lzx {

// A match: length in the low 9 bits, offset above.
using Match = std::uint32_t;
constexpr unsigned kMatchLengthBits = 9;
static_assert(kMaxMatch < (1u << kMatchLengthBits), "a match length fits its bits");
static_assert(maxOffset(kMaxWindowBits) < (1u << (32 - kMatchLengthBits)),
              "the farthest offset fits above the length");

inline Match makeMatch(unsigned length, std::uint32_t offset) {
    return offset << kMatchLengthBits | length;
}
inline unsigned matchLength(Match m) {
    return m & ((1u << kMatchLengthBits) - 1);
}
inline std::uint32_t matchOffset(Match m) {
    return m >> kMatchLengthBits;
}

constexpr unsigned kHash3Bits = 17;
constexpr unsigned kMaxMatchesPerPosition = 64;

// What the finder accepts. A nice length under three would let the two-byte
// table's match stand for an equal tree node without the tree looking at it.
constexpr unsigned kMinNiceLength = 3;
constexpr unsigned kMaxNiceLength = kMaxMatch;
constexpr unsigned kMaxSearchDepth = 1024;

// The bytes a search may read: data[0] is position base, and data holds every
// position from base up to end. base is at most pos - maxOffset, so that every
// match in reach is there.
//
// Unless streamEnds, end - pos must be at least the nice length: the tree orders
// each node by its first `nice` bytes, and a new node that compares equal to an
// old one as far as the search looks takes the old one's place and its subtrees.
// With fewer bytes compared, "equal" would only be a guess, a node could land on
// the wrong side of another, and later searches, which skip the prefix the tree
// promises, would report matches that are not there. At the stream's real end
// every later search looks even less far, so the shorter order still holds for them.
struct Span {
    const std::uint8_t* data;
    std::uint32_t base;
    std::uint32_t end;
    bool streamEnds; // end is the end of the stream: no more bytes will come
};

// Positions are absolute and start at the window size, so that an empty table
// entry (zero) is always out of reach; every position of the stream from there
// goes through find() or skip() exactly once, in order. Tables are the caller's memory.
struct MatchFinder {
    std::uint32_t* hash3; // 1 << kHash3Bits entries
    std::uint32_t* hash2; // 65536 entries
    std::uint32_t* tree;  // 2 * window entries, indexed by position modulo the window
    std::uint32_t windowMask;
    std::uint32_t maxOffset;
    unsigned depth; // nodes visited per position, 1 to kMaxSearchDepth
    unsigned nice;  // a match this long ends the search, kMinNiceLength to kMaxNiceLength

    static std::uint64_t tableBytes(unsigned windowBits);
    static constexpr bool accepts(unsigned searchDepth, unsigned niceLength) {
        return searchDepth >= 1 && searchDepth <= kMaxSearchDepth && niceLength >= kMinNiceLength &&
               niceLength <= kMaxNiceLength;
    }
    // Points the tables into memory of tableBytes() and empties them.
    void init(void* memory, unsigned windowBits, unsigned searchDepth, unsigned niceLength);

    // Matches for pos, shortest first, each longer than the one before, none
    // reaching past span.end.
    unsigned find(const Span& span, std::uint32_t pos, Match* out);
    // Inserts pos into the tree without reporting matches.
    void skip(const Span& span, std::uint32_t pos);

private:
    template <bool report> unsigned search(const Span& span, std::uint32_t pos, Match* out);
    void check(const Span& span, std::uint32_t pos, const Match* out, unsigned count) const;
};

// Length of the common prefix of a and b, at most limit; the first start bytes
// are known to match.
inline unsigned commonLength(const std::uint8_t* a, const std::uint8_t* b, unsigned start,
                             unsigned limit) {
    unsigned len = start;
    while (len + 8 <= limit) {
        std::uint64_t x, y;
        __builtin_memcpy(&x, a + len, 8);
        __builtin_memcpy(&y, b + len, 8);
        if (x != y) {
            return len + unsigned(__builtin_ctzll(x ^ y) >> 3);
        }
        len += 8;
    }
    while (len < limit && a[len] == b[len]) {
        ++len;
    }
    return len;
}

} // namespace kp::cab::lzx
