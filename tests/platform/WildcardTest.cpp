#include "platform/Wildcard.h"

#include <gtest/gtest.h>

using kp::platform::matchesMask;

namespace kp::test {

TEST(WildcardTest, StarDotStarMatchesNamesWithAndWithoutDots) {
    EXPECT_TRUE(matchesMask("README", "*.*"));
    EXPECT_TRUE(matchesMask("a.b.c", "*.*"));
    EXPECT_TRUE(matchesMask(".profile", "*.*"));
    EXPECT_TRUE(matchesMask("data", "da*.*"));
    EXPECT_FALSE(matchesMask("other", "da*.*"));
}

TEST(WildcardTest, QuestionMarkTakesExactlyOneCharacter) {
    EXPECT_TRUE(matchesMask("a1.c", "a?.c"));
    EXPECT_FALSE(matchesMask("a.c", "a?.c"));
    EXPECT_FALSE(matchesMask("a12.c", "a?.c"));
}

TEST(WildcardTest, StarsBacktrackAndCaseCounts) {
    EXPECT_TRUE(matchesMask("abcabcabd", "*abd"));
    EXPECT_TRUE(matchesMask("x", "***"));
    EXPECT_FALSE(matchesMask("abc", "*abd*"));
    EXPECT_FALSE(matchesMask("A.TXT", "*.txt"));
    EXPECT_TRUE(matchesMask("", "*"));
    EXPECT_FALSE(matchesMask("a", ""));
}

} // namespace kp::test
