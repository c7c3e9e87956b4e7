#include "FileLbl.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace kp::test {

namespace {

// Widths come from the label's own font, so each case sits exactly on the boundary it
// is about, whatever font the machine has.
class FileLblTest : public ::testing::Test {
protected:
    void SetUp() override {
        label = std::make_unique<TFileLabel>();
        label->resize(400, 17);
        label->show();
    }

    int Width(const std::string& text) const {
        return QFontMetrics(label->font()).horizontalAdvance(QString::fromStdString(text));
    }
    int WidthOf(std::initializer_list<std::string> pieces) const {
        int sum = 0;
        for (const std::string& piece : pieces) {
            sum += Width(piece);
        }
        return sum;
    }
    std::string Caption() const { return label->text().toStdString(); }

    std::unique_ptr<TFileLabel> label;
};

struct FitCase {
    const char* why;
    std::string path;
    std::string separator;
    TDirection direction;
    std::vector<std::string> widthPieces; // the label is as wide as these, measured apart...
    int extra;                            // ...plus this many pixels
    std::string caption;
};

const std::string kExe = "C:\\Program Files\\Korvath\\bin\\kpellix.exe";
const std::string kUnc = "\\\\server\\share\\dir\\file.txt";

} // namespace

TEST(FileLblSplitPath, SplitsAtEveryWholeOccurrence) {
    using Parts = std::vector<std::string>;
    EXPECT_EQ(TFileLabel::SplitPath("C:\\dir\\file.txt", "\\"), (Parts{"C:", "dir", "file.txt"}));
    EXPECT_EQ(TFileLabel::SplitPath("\\\\srv\\share", "\\"), (Parts{"", "", "srv", "share"}));
    EXPECT_EQ(TFileLabel::SplitPath("dir\\", "\\"), (Parts{"dir", ""}));
    EXPECT_EQ(TFileLabel::SplitPath("plain", "\\"), (Parts{"plain"}));
    EXPECT_EQ(TFileLabel::SplitPath("", "\\"), (Parts{""}));
    EXPECT_EQ(TFileLabel::SplitPath("a->b->>c", "->"), (Parts{"a", "b", ">c"}));
    EXPECT_EQ(TFileLabel::SplitPath("a/b", ""), (Parts{"a/b"}));
    const std::string longPart(5000, 'x');
    EXPECT_EQ(TFileLabel::SplitPath(longPart + "\\" + longPart, "\\"), (Parts{longPart, longPart}));
}

TEST_F(FileLblTest, ParsesPartsAndDrive) {
    EXPECT_EQ(label->Separator(), "/");
    label->setFileName("/home/user/file.txt");
    EXPECT_EQ(label->PathParts(), (std::vector<std::string>{"", "home", "user", "file.txt"}));
    EXPECT_FALSE(label->HasDrive());

    label->setSeparator("\\");
    label->setFileName("C:\\file.txt");
    EXPECT_TRUE(label->HasDrive());
    label->setFileName(":\\file.txt");
    EXPECT_FALSE(label->HasDrive()) << "a lone colon is no drive";
    label->setFileName("ab:\\file.txt");
    EXPECT_TRUE(label->HasDrive());
    label->setFileName("C:x\\file.txt");
    EXPECT_FALSE(label->HasDrive());
    label->setSeparator("/");
    EXPECT_EQ(label->PathParts(), (std::vector<std::string>{"C:x\\file.txt"}))
        << "a new separator splits again";
}

TEST_F(FileLblTest, FitsCaptionToWidth) {
    const std::string E = "...\\";
    const std::string L = "kpellix.exe";
    const std::string D = "C:\\";
    const FitCase cases[] = {
        {"exactly as wide as the path", kExe, "\\", drFromLeft, {kExe}, 0, kExe},
        {"marker and name reach the width", kExe, "\\", drFromLeft, {E, L}, 0, L},
        {"marker and name just fit, drive too", kExe, "\\", drFromLeft, {E, L}, 1, E + L},
        {"drive, marker and name reach the width", kExe, "\\", drFromLeft, {D, E, L}, 0, E + L},
        {"no middle part fits", kExe, "\\", drFromLeft, {D, E, L}, 1, D + E + L},
        {"from left: one folder exactly",
         kExe,
         "\\",
         drFromLeft,
         {D, E, L, "bin\\"},
         0,
         D + E + "bin\\" + L},
        {"from left: one pixel short", kExe, "\\", drFromLeft, {D, E, L, "bin\\"}, -1, D + E + L},
        {"from left: two folders",
         kExe,
         "\\",
         drFromLeft,
         {D, E, L, "Korvath\\bin\\"},
         0,
         D + E + "Korvath\\bin\\" + L},
        {"from right: one folder exactly",
         kExe,
         "\\",
         drFromRight,
         {D, E, L, "Program Files\\"},
         0,
         D + "Program Files\\" + E + L},
        {"from right: one pixel short",
         kExe,
         "\\",
         drFromRight,
         {D, E, L, "Program Files\\"},
         -1,
         D + E + L},
        {"from right: two folders",
         kExe,
         "\\",
         drFromRight,
         {D, E, L, "Program Files\\Korvath\\"},
         0,
         D + "Program Files\\Korvath\\" + E + L},
        {"a wide folder stops the walk; shorter ones beyond it are not tried",
         "C:\\a\\b\\a rather long folder name\\f.txt",
         "\\",
         drFromLeft,
         {D, E, "f.txt", "a\\b\\"},
         0,
         D + E + "f.txt"},
        {"network path from right keeps its leading separators",
         kUnc,
         "\\",
         drFromRight,
         {E, "file.txt", "\\\\server\\"},
         0,
         "\\\\server\\" + E + "file.txt"},
        {"network path from left",
         kUnc,
         "\\",
         drFromLeft,
         {E, "file.txt", "share\\dir\\"},
         0,
         E + "share\\dir\\file.txt"},
        {"trailing separator: the empty last part",
         "C:\\data\\archive\\",
         "\\",
         drFromLeft,
         {D, E, "archive\\"},
         0,
         D + E + "archive\\"},
        {"several-character separator",
         "home > user > docs > report.txt",
         " > ",
         drFromLeft,
         {"... > ", "report.txt", "docs > "},
         0,
         "... > docs > report.txt"},
        {"one wide component is shown whole",
         "averyveryverylongname.txt",
         "\\",
         drFromLeft,
         {"averyverylong"},
         0,
         "averyveryverylongname.txt"},
        {"empty separator makes one component",
         "a/b/c/d.txt",
         "",
         drFromLeft,
         {"a/b"},
         0,
         "a/b/c/d.txt"},
        {"platform separator, from right",
         "/home/user/file.txt",
         "/",
         drFromRight,
         {".../", "file.txt", "/home/"},
         0,
         "/home/.../file.txt"},
    };
    for (const FitCase& c : cases) {
        label->setSeparator(c.separator);
        label->setDirection(c.direction);
        label->setFileName(c.path);
        int width = c.extra;
        for (const std::string& piece : c.widthPieces) {
            width += Width(piece);
        }
        label->resize(width, 17);
        EXPECT_EQ(Caption(), c.caption) << c.why << " (width " << width << ")";
        EXPECT_EQ(label->FileName(), c.path) << "the full path stays: " << c.why;
    }
}

TEST_F(FileLblTest, EmptyFileNameGivesEmptyCaption) {
    label->resize(20, 17);
    label->setFileName("/a/rather/long/path/to/a/file.txt");
    ASSERT_FALSE(label->text().isEmpty());
    label->setFileName("");
    EXPECT_EQ(Caption(), "");
}

TEST_F(FileLblTest, RecomputesWhenWidthChanges) {
    const std::string path = "/usr/share/korvath/pellix.txt";
    label->resize(Width(path), 17);
    label->setFileName(path);
    EXPECT_EQ(Caption(), path);
    label->resize(WidthOf({".../", "pellix.txt", "korvath/"}), 17);
    EXPECT_EQ(Caption(), ".../korvath/pellix.txt");
    label->resize(Width(path), 17);
    EXPECT_EQ(Caption(), path);
}

TEST_F(FileLblTest, RecomputesWhenFontChangesAlsoFromTheParent) {
    QWidget parent;
    auto* child = new TFileLabel(&parent);
    parent.show();
    const std::string path = "/usr/share/korvath/pellix.txt";
    child->setFileName(path);
    child->resize(QFontMetrics(child->font()).horizontalAdvance(QString::fromStdString(path)), 17);
    ASSERT_EQ(child->text().toStdString(), path);

    QFont bigger = parent.font();
    bigger.setPixelSize(QFontInfo(parent.font()).pixelSize() * 2);
    parent.setFont(bigger);
    EXPECT_EQ(child->font().pixelSize(), bigger.pixelSize());
    EXPECT_NE(child->text().toStdString(), path);
    EXPECT_TRUE(child->text().endsWith(u"pellix.txt"_qs));

    parent.setFont(QFont());
    EXPECT_EQ(child->text().toStdString(), path);
}

TEST_F(FileLblTest, RecomputesWhenDirectionOrSeparatorChanges) {
    const std::string path = "C:\\a\\wide folder\\three.txt";
    label->setSeparator("\\");
    label->setFileName(path);
    label->resize(WidthOf({"C:\\", "...\\", "three.txt", "a\\"}), 17);
    EXPECT_EQ(Caption(), "C:\\...\\three.txt") << "from left, 'wide folder\\' does not fit";
    label->setDirection(drFromRight);
    EXPECT_EQ(Caption(), "C:\\a\\...\\three.txt");

    label->setSeparator("/");
    EXPECT_EQ(Caption(), path) << "without a separator in it, the path is one component";
}

TEST_F(FileLblTest, SettingTheSameFileNameDoesNotRecompute) {
    label->setFileName("/tmp/a.txt");
    label->setText("stale");
    label->setFileName("/tmp/a.txt");
    EXPECT_EQ(Caption(), "stale");
    label->setFileName("/tmp/b.txt");
    EXPECT_EQ(Caption(), "/tmp/b.txt");
}

TEST_F(FileLblTest, MarkupAndAmpersandsInNamesAreShownAsText) {
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    label->setFileName("/tmp/<b>bold</b> & co.txt");
    EXPECT_EQ(Caption(), "/tmp/<b>bold</b> & co.txt");
}

namespace {

// Ten pixels a character, but a separator followed by "k" kerns five pixels closer, so
// a string measured whole is narrower than its pieces measured apart.
class KernedFileLabel : public TFileLabel {
public:
    using TFileLabel::FitCaption;

protected:
    int TextWidth(const std::string& text) const override {
        int width = static_cast<int>(text.size()) * 10;
        for (std::size_t at = text.find("\\k"); at != std::string::npos;
             at = text.find("\\k", at + 1)) {
            width -= 5;
        }
        return width;
    }
};

} // namespace

TEST(FileLblMeasuring, AddsMarkerDriveAndNameApartButMeasuresCandidatesWhole) {
    KernedFileLabel label;
    label.setSeparator("\\");
    struct Case {
        std::string path;
        int width;
        std::string caption;
    } cases[] = {
        // "...\\" 40 + "kpellix.exe" 110 = 150 apart, 145 whole: 148 is reached.
        {"C:\\dir\\kpellix.exe", 148, "kpellix.exe"},
        {"C:\\dir\\kpellix.exe", 151, "...\\kpellix.exe"},
        // Drive 30 + marker 40 + name 10 = 80; "kx\\" 30 fits, "kk\\kx\\" is 55 whole.
        {"C:\\wwwwwwwwww\\kk\\kx\\f", 135, "C:\\...\\kk\\kx\\f"},
        {"C:\\wwwwwwwwww\\kk\\kx\\f", 134, "C:\\...\\kx\\f"},
    };
    for (const Case& c : cases) {
        label.setFileName(c.path);
        label.resize(c.width, 17);
        label.FitCaption();
        EXPECT_EQ(label.text().toStdString(), c.caption) << c.path << " at " << c.width;
    }
}

} // namespace kp::test
