// Windows from a TCOMP, and the position slots every offset falls into.
#include <cstdint>

#include <gtest/gtest.h>

#include "codec.h"
#include "lzx/lzx_format.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

TEST(LzxTcomp, WindowBitsComeFromTheHighByte) {
    for (unsigned w = 15; w <= 21; ++w) {
        unsigned bits = 0;
        EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(w)), &bits), &lzxCodec);
        EXPECT_EQ(bits, w);
    }
    unsigned bits = 0;
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(14)), &bits), nullptr);
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(22)), &bits), nullptr);
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(21) | tcompMASK_RESERVED), &bits), nullptr);
    EXPECT_EQ(slotsForWindow(15), 30u);
    EXPECT_EQ(slotsForWindow(19), 38u);
    EXPECT_EQ(slotsForWindow(20), 42u);
    EXPECT_EQ(slotsForWindow(21), 50u);
}

TEST(LzxSlots, EveryOffsetFallsInsideItsSlot) {
    for (unsigned w = 15; w <= 21; ++w) {
        std::uint32_t top = maxOffset(w) + 2;
        EXPECT_EQ(slotOf(top), slotsForWindow(w) - 1) << "window " << w;
    }
    for (std::uint32_t f = 0; f < (1u << 21); f += f < 4096 ? 1 : 97) {
        unsigned s = slotOf(f);
        ASSERT_GE(f, slotBase(s));
        ASSERT_LT(f, slotBase(s) + (1u << slotExtraBits(s))) << f;
    }
}

} // namespace
