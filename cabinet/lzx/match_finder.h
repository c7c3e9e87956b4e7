// Binary-tree match finder over the whole window: every position is a node in
// a tree of earlier positions sharing its three-byte hash, ordered by the bytes
// that follow, so one descent finds the longest match for each distance range.
#pragma once

#include <cstdint>

namespace kp::cab::lzx {

// A match: length in the low 9 bits, offset above.
using Match = std::uint32_t;
inline Match makeMatch(unsigned length, std::uint32_t offset) {
    return offset << 9 | length;
}
inline unsigned matchLength(Match m) {
    return m & 511;
}
inline std::uint32_t matchOffset(Match m) {
    return m >> 9;
}

constexpr unsigned kHash3Bits = 17;
constexpr unsigned kMaxMatchesPerPosition = 64;

// Positions are absolute and start at the window size, so that an empty table
// entry (zero) is always out of reach. Tables are the caller's memory.
struct MatchFinder {
    std::uint32_t* hash3; // 1 << kHash3Bits entries
    std::uint32_t* hash2; // 65536 entries
    std::uint32_t* tree;  // 2 * window entries, indexed by position modulo the window
    std::uint32_t windowMask;
    std::uint32_t maxOffset;
    unsigned depth; // nodes visited per position
    unsigned nice;  // a match this long ends the search

    static std::uint64_t tableBytes(unsigned windowBits);
    // Points the tables into memory of tableBytes() and empties them.
    void init(void* memory, unsigned windowBits, unsigned searchDepth, unsigned niceLength);

    // Matches for data[pos], shortest first, each longer than the one before;
    // data[0] is position base, and data holds bytes up to position end.
    unsigned find(const std::uint8_t* data, std::uint32_t base, std::uint32_t pos,
                  std::uint32_t end, Match* out);
    // Inserts pos into the tree without reporting matches.
    void skip(const std::uint8_t* data, std::uint32_t base, std::uint32_t pos, std::uint32_t end);

private:
    template <bool report>
    unsigned search(const std::uint8_t* data, std::uint32_t base, std::uint32_t pos,
                    std::uint32_t end, Match* out);
};

// Length of the common prefix of a and b, at most limit.
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
