// Call translation: which E8 calls change, and which frames are left alone.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "lzx/e8.h"
#include "lzx/lzx_format.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

std::vector<std::uint8_t> call(std::int32_t operand) {
    auto u = std::uint32_t(operand);
    return {0xE8, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
            std::uint8_t(u >> 24)};
}

std::int32_t operandAt(const std::vector<std::uint8_t>& v, std::size_t at) {
    return std::int32_t(v[at] | v[at + 1] << 8 | v[at + 2] << 16 | std::uint32_t(v[at + 3]) << 24);
}

TEST(LzxE8, CallTargetsBecomeAbsoluteInsideTheTranslatedRange) {
    const std::int32_t size = 12000000;
    std::vector<std::uint8_t> frame(64, 0x90);
    auto put = [&](std::size_t at, std::int32_t operand) {
        auto c = call(operand);
        std::copy(c.begin(), c.end(), frame.begin() + long(at));
    };
    put(0, 0x10);         // forward: absolute = position + relative
    put(5, -3);           // backward within the stream
    put(10, -100000);     // before the stream's start: untouched
    put(15, size - 1000); // lands past the translation size from here: wraps negative
    put(20, size);        // outside the range: untouched
    put(50, 7);           // starts in the last ten bytes... of a 60-byte frame: untouched
    const std::uint32_t offset = 70000;
    e8Translate(frame.data(), 60, offset, size);
    EXPECT_EQ(operandAt(frame, 1), std::int32_t(offset) + 0x10);
    EXPECT_EQ(operandAt(frame, 6), std::int32_t(offset) + 5 - 3);
    EXPECT_EQ(operandAt(frame, 11), -100000);
    EXPECT_EQ(operandAt(frame, 16), size - 1000 - size);
    EXPECT_EQ(operandAt(frame, 21), size);
    EXPECT_EQ(operandAt(frame, 51), 7);
}

TEST(LzxE8, ShortFramesAndFramesPastTheLimitStayAsTheyAre) {
    auto c = call(0x20);
    std::vector<std::uint8_t> ten(c.begin(), c.end());
    ten.resize(10, 0);
    auto before = ten;
    e8Translate(ten.data(), 10, 0, 12000000);
    EXPECT_EQ(ten, before);
    std::vector<std::uint8_t> frame(100, 0);
    std::copy(c.begin(), c.end(), frame.begin());
    auto original = frame;
    e8Translate(frame.data(), 100, 32768u * 32768u, 12000000);
    EXPECT_EQ(frame, original) << "frame 32768 and later are never translated";
    e8Translate(frame.data(), 100, 32767u * 32768u, 12000000);
    EXPECT_NE(frame, original) << "frame 32767 still is";
}

} // namespace
