#include "Colors.h"
#include "StringConvert.h"

#include <gtest/gtest.h>

TEST(Colors, TColorKeepsRedInTheLowestByte) {
    EXPECT_EQ(ColorFromTColor(0x800080), QColor(0x80, 0x00, 0x80));
    EXPECT_EQ(ColorFromTColor(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ColorFromTColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(ColorFromTColor(0x00FF00), QColor(0, 255, 0));
    EXPECT_EQ(TColorFromColor(QColor(0x12, 0x34, 0x56)), 0x563412u);
    EXPECT_EQ(TColorFromColor(ColorFromTColor(0x00ABCDEF)), 0x00ABCDEFu);
}

TEST(StringConvert, Utf8TextCrossesBothWays) {
    const std::string text = "Grüße \xE2\x82\xAC";
    EXPECT_EQ(ToQString(text), QString::fromUtf8("Grüße €"));
    EXPECT_EQ(ToStdString(ToQString(text)), text);
    EXPECT_EQ(ToQString(std::string("a\0b", 3)).size(), 3);
}

TEST(StringConvert, PathsCrossInTheFileSystemEncoding) {
    const std::string valid = "/tmp/Ordner/Datei ä.txt";
    EXPECT_EQ(PathToQString(valid), QString::fromUtf8("/tmp/Ordner/Datei ä.txt"));
    EXPECT_EQ(PathFromQString(PathToQString(valid)), valid);
    // A stray Latin-1 byte must not cut the name short or vanish.
    EXPECT_EQ(PathToQString("/tmp/caf\xE9.txt"), QString::fromUtf8("/tmp/caf\uFFFD.txt"));
}

TEST(StringConvert, TrimBlanksRemovesSpacesAndControlCharactersAtBothEnds) {
    EXPECT_EQ(TrimBlanks(u" \t a b \r\n"_qs), u"a b"_qs);
    EXPECT_EQ(TrimBlanks(u"   "_qs), QString());
    EXPECT_EQ(TrimBlanks(QString()), QString());
    EXPECT_EQ(TrimBlanks(u"x"_qs), u"x"_qs);
}
