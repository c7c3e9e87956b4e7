#include "Colors.h"

#include <gtest/gtest.h>

namespace kp::test {

TEST(Colors, TColorKeepsRedInTheLowestByte) {
    EXPECT_EQ(ColorFromTColor(0x800080), QColor(0x80, 0x00, 0x80));
    EXPECT_EQ(ColorFromTColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ColorFromTColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ColorFromTColor(0x00FF00), QColor(0, 255, 0));
    EXPECT_EQ(TColorFromColor(QColor(0x12, 0x34, 0x56)), 0x563412u);
    EXPECT_EQ(TColorFromColor(ColorFromTColor(0x00ABCDEF)), 0x00ABCDEFu);
}

} // namespace kp::test
