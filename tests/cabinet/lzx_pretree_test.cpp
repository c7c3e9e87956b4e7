// The pretree coding of tree changes, read back the way libmspack reads it.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "fci_client.h"
#include "lzx/huffman.h"
#include "lzx/lzx_format.h"
#include "lzx/tree_coder.h"
#include "lzx_bit_reader.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;
using namespace kp::test;

// Decodes one writeLengths range the way libmspack does (19 repeats the delta
// taken against the first old length).
std::vector<std::uint8_t> readLengths(BitReader& in, const std::vector<std::uint8_t>& previous) {
    std::uint8_t pre[kNumPretreeSymbols];
    for (auto& l : pre) {
        l = std::uint8_t(in.bits(4));
    }
    std::uint16_t codes[kNumPretreeSymbols];
    assignCodes(pre, kNumPretreeSymbols, codes);
    std::vector<std::uint8_t> out(previous.size());
    for (std::size_t i = 0; i < out.size();) {
        unsigned s = in.symbol(pre, codes, kNumPretreeSymbols);
        if (s == 17 || s == 18) {
            unsigned run = s == 17 ? 4 + in.bits(4) : 20 + in.bits(5);
            for (unsigned k = 0; k < run; ++k) {
                out.at(i++) = 0;
            }
        } else if (s == 19) {
            unsigned run = 4 + in.bits(1);
            unsigned d = in.symbol(pre, codes, kNumPretreeSymbols);
            EXPECT_LE(d, 16u);
            std::uint8_t v = std::uint8_t((previous[i] + 17 - d) % 17);
            for (unsigned k = 0; k < run; ++k) {
                EXPECT_EQ(previous.at(i), previous[i - k])
                    << "19 is used only where every reading of it agrees";
                out.at(i++) = v;
            }
        } else {
            out[i] = std::uint8_t((previous[i] + 17 - s) % 17);
            ++i;
        }
    }
    return out;
}

TEST(LzxPretree, LengthsSurviveDeltaCodingAgainstThePreviousBlock) {
    auto noise = kp::test::randomBytes(40000, 9);
    std::size_t at = 0;
    std::vector<std::uint8_t> previous(656, 0); // a new stream starts from zero
    for (int block = 0; block < 30; ++block) {
        std::vector<std::uint8_t> lengths(656);
        // Runs of zeros, runs of equal lengths, and scattered values.
        for (std::size_t i = 0; i < lengths.size();) {
            unsigned kind = noise[at++] % 4;
            unsigned run = 1 + noise[at++] % 60;
            std::uint8_t v = std::uint8_t(noise[at++] % 17);
            for (unsigned k = 0; k < run && i < lengths.size(); ++k, ++i) {
                lengths[i] = kind == 0 ? 0 : kind == 1 ? v : std::uint8_t(noise[at++] % 17);
            }
        }
        if (block % 7 == 3) {
            lengths = previous; // an unchanged tree
        }
        std::vector<std::uint8_t> out(4096);
        BitWriter w(out.data(), out.size());
        std::uint64_t bits = writeLengths(w, lengths.data(), previous.data(), 656);
        EXPECT_EQ(bits, lengthsCost(lengths.data(), previous.data(), 656));
        w.alignToWord();
        ASSERT_FALSE(w.overflowed());
        BitReader r(out);
        EXPECT_EQ(readLengths(r, previous), lengths) << "block " << block;
        previous = lengths;
    }
}

// Bits of the greedy split (pretreeItems) under a pretree built for it.
std::uint64_t greedyBits(const std::vector<std::uint8_t>& lengths,
                         const std::vector<std::uint8_t>& previous) {
    std::vector<PretreeItem> items(lengths.size());
    unsigned count =
        pretreeItems(lengths.data(), previous.data(), unsigned(lengths.size()), items.data());
    std::uint32_t freq[kNumPretreeSymbols] = {};
    for (unsigned i = 0; i < count; ++i) {
        ++freq[items[i].symbol];
        if (items[i].symbol == kEqualRun) {
            ++freq[items[i].repeatedDelta];
        }
    }
    std::uint8_t pre[kNumPretreeSymbols];
    buildCodeLengths(freq, kNumPretreeSymbols, kMaxPretreeLength, pre);
    std::uint64_t bits = 4 * kNumPretreeSymbols;
    for (unsigned i = 0; i < count; ++i) {
        unsigned s = items[i].symbol;
        bits += pre[s] + (s == kZeroRun ? 4 : s == kLongZeroRun ? 5 : s == kEqualRun ? 1 : 0);
        if (s == kEqualRun) {
            bits += pre[items[i].repeatedDelta];
        }
    }
    return bits;
}

// Trees like real blocks': long zero stretches, lengths 4 to 12 that change a little
// from block to block. The split by cost never loses to the greedy one, and it finds
// something on such trees.
TEST(LzxPretree, ChosenItemsNeverCostMoreThanTheGreedySplit) {
    auto noise = kp::test::randomBytes(200000, 21);
    std::size_t at = 0;
    std::vector<std::uint8_t> previous(656, 0);
    unsigned cheaper = 0;
    for (int block = 0; block < 200; ++block) {
        std::vector<std::uint8_t> lengths(656);
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            unsigned r = noise[at++];
            lengths[i] = r < 70 ? 0 : r < 150 ? previous[i] : std::uint8_t(4 + noise[at++] % 9);
        }
        std::uint64_t chosen = lengthsCost(lengths.data(), previous.data(), 656);
        std::uint64_t greedy = greedyBits(lengths, previous);
        EXPECT_LE(chosen, greedy) << "block " << block;
        cheaper += chosen < greedy;
        previous = lengths;
    }
    EXPECT_GT(cheaper, 20u);
}

} // namespace
