// The bit writer: word order, bit order, and what it does with too much.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "lzx/bit_writer.h"
#include "lzx_bit_reader.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;
using namespace kp::test;

TEST(LzxBits, WordsAreLittleEndianWithTheFirstBitOnTop) {
    std::vector<std::uint8_t> out(8);
    BitWriter w(out.data(), out.size());
    w.put(1, 1);
    w.alignToWord();
    w.put(0x1ABCD, 17); // wider than a word
    w.alignToWord();
    EXPECT_EQ(w.size(), 6u);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x80);
    // 1 1010 1011 1100 1101 then 15 zero bits: words 0xD5E6, 0x8000.
    EXPECT_EQ(out[2], 0xE6);
    EXPECT_EQ(out[3], 0xD5);
    EXPECT_EQ(out[4], 0x00);
    EXPECT_EQ(out[5], 0x80);
    w.alignToWord();
    EXPECT_EQ(w.size(), 6u) << "aligning at a boundary adds nothing";
}

// The widest put after the most bits a word can leave waiting, and puts whose
// value has bits above their count, which must not leak into the stream.
TEST(LzxBits, EveryBitSurvivesTheWidestPutAndStrayHighBitsAreDropped) {
    for (unsigned waiting = 0; waiting < 16; ++waiting) {
        std::vector<std::uint8_t> out(16);
        BitWriter w(out.data(), out.size());
        std::uint32_t lead = 0x5A5Au & ((1u << waiting) - 1);
        w.put(lead | 0xFFFF0000u, waiting);
        w.put(0xDEADBEEFu, BitWriter::kMaxPutBits);
        w.put(0xFFFFFFF8u | 5u, 3);
        w.put(0, 1);
        w.alignToWord();
        ASSERT_FALSE(w.overflowed());
        BitReader r(out);
        EXPECT_EQ(r.bits(waiting), lead) << waiting;
        EXPECT_EQ(r.bits(16), 0xDEADu) << waiting;
        EXPECT_EQ(r.bits(16), 0xBEEFu) << waiting;
        EXPECT_EQ(r.bits(4), 0xAu) << waiting;
        EXPECT_EQ(w.bitCount(), (waiting + 36 + 15) / 16 * 16u) << waiting;
    }
}

TEST(LzxBits, OverflowIsReportedNotWritten) {
    std::vector<std::uint8_t> out(4, 0xAA);
    BitWriter w(out.data(), 2);
    w.put(0xFFFF, 16);
    w.put(0xFFFF, 16);
    EXPECT_TRUE(w.overflowed());
    EXPECT_EQ(out[2], 0xAA);
}

} // namespace
