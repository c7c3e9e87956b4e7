#include "StringConvert.h"

#include <gtest/gtest.h>

namespace kp::test {

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

} // namespace kp::test
