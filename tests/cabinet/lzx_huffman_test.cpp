// Code lengths: complete, prefix-free and within the limit whatever the frequencies.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "fci_client.h"
#include "lzx/huffman.h"
#include "lzx/lzx_format.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

// Kraft sum scaled by 2^16; a complete code sums to exactly 65536.
std::uint64_t kraft(const std::vector<std::uint8_t>& lengths) {
    std::uint64_t sum = 0;
    for (auto l : lengths) {
        if (l) {
            sum += std::uint64_t(1) << (16 - l);
        }
    }
    return sum;
}

std::vector<std::uint8_t> lengthsFor(const std::vector<std::uint32_t>& freq, unsigned limit) {
    std::vector<std::uint8_t> lengths(freq.size());
    buildCodeLengths(freq.data(), unsigned(freq.size()), limit, lengths.data());
    return lengths;
}

TEST(LzxHuffman, SkewedFrequenciesStayWithinTheLimitAndComplete) {
    // Fibonacci weights would need codes as long as the alphabet without a limit.
    struct Case {
        unsigned symbols;
        unsigned limit;
    };
    for (Case c : {Case{656, 16}, Case{249, 16}, Case{20, 15}, Case{8, 7}}) {
        std::vector<std::uint32_t> freq(c.symbols);
        std::uint32_t a = 1, b = 1;
        for (unsigned i = 0; i < c.symbols; ++i) {
            freq[i] = a;
            std::uint32_t next = a + b > 50000000 ? 50000000 : a + b;
            a = b;
            b = next;
        }
        auto lengths = lengthsFor(freq, c.limit);
        for (unsigned i = 0; i < c.symbols; ++i) {
            ASSERT_GE(lengths[i], 1) << "symbol " << i << " is used";
            ASSERT_LE(lengths[i], c.limit);
            if (i > 0 && freq[i] > freq[i - 1]) {
                EXPECT_LE(lengths[i], lengths[i - 1]) << "a more frequent symbol never gets longer";
            }
        }
        EXPECT_EQ(kraft(lengths), 65536u) << c.symbols << " symbols";
    }
}

TEST(LzxHuffman, NoneOrOneUsedSymbolStillMakesACompleteCode) {
    std::vector<std::uint32_t> none(249, 0);
    auto l0 = lengthsFor(none, 16);
    EXPECT_EQ(kraft(l0), 65536u);
    std::vector<std::uint32_t> one(656, 0);
    one[300] = 12345;
    auto l1 = lengthsFor(one, 16);
    EXPECT_EQ(l1[300], 1);
    EXPECT_EQ(kraft(l1), 65536u);
}

TEST(LzxHuffman, RandomFrequenciesGiveCompletePrefixFreeCodes) {
    auto noise = kp::test::randomBytes(656 * 4 * 20, 5);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint32_t> freq(656);
        for (unsigned i = 0; i < 656; ++i) {
            std::uint32_t v;
            std::memcpy(&v, &noise[(round * 656 + i) * 4], 4);
            // Many unused symbols and a wide spread of counts.
            freq[i] = (v & 3) == 0 ? 0 : (v >> 8) % (1u << ((v & 31) % 20 + 1));
        }
        auto lengths = lengthsFor(freq, 16);
        std::vector<std::uint16_t> codes(656);
        assignCodes(lengths.data(), 656, codes.data());
        EXPECT_EQ(kraft(lengths), 65536u);
        for (unsigned i = 0; i < 656; ++i) {
            if (freq[i]) {
                EXPECT_GT(lengths[i], 0) << "used symbol " << i << " has a code";
            }
            for (unsigned j = 0; j < 656 && lengths[i]; ++j) {
                if (i != j && lengths[j] >= lengths[i]) {
                    ASSERT_NE(codes[j] >> (lengths[j] - lengths[i]), codes[i])
                        << "code of " << i << " is a prefix of the code of " << j;
                }
            }
        }
    }
}

} // namespace
