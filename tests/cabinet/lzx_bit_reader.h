// Reads back what the LZX bit writer wrote, for the tests of the parts that write bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "lzx/lzx_format.h"

namespace kp::test {

// Reads what BitWriter wrote: 16-bit little-endian words, high bit first.
class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    unsigned bit() {
        std::size_t word = pos_ / 16;
        unsigned w = bytes_[2 * word] | bytes_[2 * word + 1] << 8;
        unsigned b = (w >> (15 - pos_ % 16)) & 1;
        ++pos_;
        return b;
    }
    unsigned bits(unsigned n) {
        unsigned v = 0;
        while (n--) {
            v = v << 1 | bit();
        }
        return v;
    }
    // Canonical decoding, one bit at a time.
    unsigned symbol(const std::uint8_t* lengths, const std::uint16_t* codes, unsigned n) {
        unsigned code = 0;
        for (unsigned len = 1; len <= kp::cab::lzx::kMaxCodeLength; ++len) {
            code = code << 1 | bit();
            for (unsigned s = 0; s < n; ++s) {
                if (lengths[s] == len && codes[s] == code) {
                    return s;
                }
            }
        }
        ADD_FAILURE() << "no symbol decodes";
        return 0;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

} // namespace kp::test
