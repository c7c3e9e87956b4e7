// The block writer's stored (uncompressed) blocks: header, padding, repeats, pad byte.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "lzx/block_writer.h"
#include "lzx/lzx_format.h"
#include "lzx_bit_reader.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;
using namespace kp::test;

// libmspack, wimlib and Windows skip one to sixteen bits before the stored
// repeated offsets, never none: a header that ends on a word boundary is
// followed by a whole zero word.
TEST(LzxUncompressedBlock, PaddingIsOneToSixteenBits) {
    for (unsigned lead : {0u, 5u, 6u}) {
        std::vector<std::uint8_t> out(64);
        BitWriter w(out.data(), out.size());
        w.put(0, lead);
        std::uint32_t ends[] = {3, 0xFFFFFFFFu};
        std::uint32_t cuts[1] = {};
        FrameCutter cutter{ends, cuts, 0};
        const std::uint8_t raw[3] = {0xAA, 0xBB, 0xCC};
        Repeats reps{{0x01020304u, 5, 6}};
        writeUncompressedBlock(w, cutter, raw, 0, 3, reps);
        unsigned headerBits = lead + 27;
        std::size_t r0 = headerBits % 16 == 0 ? headerBits / 8 + 2 : (headerBits + 15) / 16 * 2;
        ASSERT_EQ(cuts[0], r0 + 12 + 3) << "lead " << lead << ": cut after the third raw byte";
        EXPECT_EQ(out[r0], 0x04) << "lead " << lead;
        EXPECT_EQ(out[r0 + 3], 0x01);
        EXPECT_EQ(out[r0 + 4], 5);
        EXPECT_EQ(out[r0 + 8], 6);
        EXPECT_EQ(out[r0 + 12], 0xAA);
        EXPECT_EQ(out[r0 + 14], 0xCC);
        BitReader r(out);
        r.bits(lead);
        EXPECT_EQ(r.bits(3), unsigned(kUncompressed));
        EXPECT_EQ(r.bits(24), 3u);
        unsigned padBits = unsigned(r0 * 8) - headerBits;
        EXPECT_GE(padBits, 1u);
        EXPECT_LE(padBits, 16u);
        EXPECT_EQ(r.bits(padBits), 0u);
        EXPECT_EQ(w.size(), r0 + 12 + 4) << "an odd block gets its pad byte";
        // What block planning charges for a stored block is what the writer adds
        // when the padding is longest, and never less.
        std::uint64_t overhead = w.bitCount() - lead - 8 * (3 + 1);
        EXPECT_LE(overhead, kUncompressedOverheadBits) << "lead " << lead;
        EXPECT_EQ(overhead == kUncompressedOverheadBits, padBits == 16) << "lead " << lead;
    }
}

} // namespace
