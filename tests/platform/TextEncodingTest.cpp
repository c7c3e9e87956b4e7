#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

using namespace kp::platform;

TEST(TextEncodingTest, Windows1252KeepsWhatTheCodePageHasAndMarksTheRest) {
    EXPECT_EQ(utf8ToWindows1252("Remove files from cabinet?"), "Remove files from cabinet?");
    EXPECT_EQ(utf8ToWindows1252("Gr\xC3\xBC\xC3\x9F"
                                "e \xE2\x82\xAC 5 \xE2\x80\x94 \xC5\xB8"),
              "Gr\xFC\xDF"
              "e \x80 5 \x97 \x9F");
    EXPECT_EQ(utf8ToWindows1252("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"), "?? ?");
    // Broken UTF-8: a lone continuation byte, a cut sequence, an overlong '/', a surrogate.
    EXPECT_EQ(utf8ToWindows1252("a\x80"
                                "b\xC3"),
              "a?b?");
    EXPECT_EQ(utf8ToWindows1252("\xC0\xAF\xED\xA0\x80"), "?????");
}

TEST(TextEncodingTest, Utf16HasSurrogatePairsAndReplacementCharacters) {
    EXPECT_EQ(utf8ToUtf16("CABINET"), u"CABINET");
    EXPECT_EQ(utf8ToUtf16("\xC3\xBC\xF0\x9F\x98\x80"), std::u16string({0xFC, 0xD83D, 0xDE00}));
    EXPECT_EQ(utf8ToUtf16("x\xFF"), std::u16string({u'x', 0xFFFD}));
}
