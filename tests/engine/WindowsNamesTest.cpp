// Which stored names come back whole on Windows: the rule alone, then through the
// builder, which must report them before it compresses anything.
#include "engine/WindowsNames.h"
#include "BuilderFixture.h"
#include "platform/LastError.h"

#include <filesystem>

namespace kp::test {
namespace {

TEST(WindowsNamesTest, NamesWindowsCannotCreateAsNamed) {
    for (const char* name :
         {"a.txt.", "a.txt ",   "...",  "CON",       "con.txt",   "Aux.tar.gz", "nul",
          "COM1",   "lpt9.log", "PRN ", "COM1 .txt", "a<b",       "a>b",        "a:b",
          "a\"b",   "a|b",      "a?b",  "a*b",       "tab\there", "\x1F"}) {
        EXPECT_FALSE(WindowsNameFault(name).empty()) << name;
    }
    for (const char* name : {"a.txt", ".hidden", "CONSOLE", "con-1.txt", "COM10", "LPT0", "COMX",
                             "x.con", "caf\xC3\xA9", "a b", "[x]", "a;b,c=d"}) {
        EXPECT_EQ(WindowsNameFault(name), "") << name;
    }
}

// Pairs as Windows' own comparison (CompareStringOrdinal ignoring case) answers them:
// measured under Wine, whose upper-case table is Windows'.
TEST(WindowsNamesTest, ComparisonFoldsAsWindowsUpperCaseTableDoes) {
    struct Pair {
        const char* a;
        const char* b;
        bool same;
    };
    const Pair pairs[] = {
        {"README", "readme", true},
        {"\xC3\x89.txt", "\xC3\xA9.txt", true},          // É / é
        {"\xC7\x84", "\xC7\x86", true},                  // Ǆ / ǆ
        {"\xC7\x85", "\xC7\x86", false},                 // title-case ǅ stays itself
        {"\xC3\x9F", "SS", false},                       // ß is not "SS"
        {"\xC3\x9F", "\xE1\xBA\x9E", false},             // ß / ẞ
        {"\xC4\xB1", "I", false},                        // dotless ı
        {"\xC5\xBF", "S", false},                        // long ſ
        {"\xCF\x82", "\xCE\xA3", false},                 // final ς / Σ
        {"\xC3\xBF", "\xC5\xB8", true},                  // ÿ / Ÿ
        {"\xD1\x84", "\xD0\xA4", true},                  // ф / Ф
        {"\xE2\x93\x90", "\xE2\x92\xB6", true},          // ⓐ / Ⓐ
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false}, // Deseret: beyond the BMP
        {"a.txt", "a.txt.", true},
        {"a.txt", "A.TXT  ", true},
        {"dir.\\x", "DIR\\x", true},
        {"a", "b", false},
    };
    for (const Pair& pair : pairs) {
        EXPECT_EQ(WindowsComparisonKey(pair.a) == WindowsComparisonKey(pair.b), pair.same)
            << pair.a << " / " << pair.b;
    }
}

TEST(WindowsNamesTest, CheckReportsEachKindOnce) {
    TWindowsNameCheck check;
    check.Add("/s/a.txt", "a.txt");
    check.Add("/s/a.txt.", "a.txt.");
    check.Add("/s/x", "x");
    check.Add("/s/X/y", "X/y");
    check.Add("/s/..\\evil", "..\\evil");
    check.Add("/s/aux/1", "aux/1");
    check.Add("/s/aux/2", "aux/2");
    check.Add("/s/\xC3\x89", "\xC3\x89");
    check.Add("/s/\xC3\xA9", "\xC3\xA9");
    std::vector<std::string> seen;
    for (const TWindowsNameReport& report : check.Reports()) {
        seen.push_back(std::to_string(static_cast<int>(report.Issue)) + " " + report.FileName +
                       " " + report.StoredName + " " + report.OtherFile);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "1 /s/a.txt. a.txt. ",
                        "0 /s/..\\evil ..\\evil ",
                        "1 /s/aux/1 aux\\1 ", // the folder once, not for each file in it
                        "2 /s/a.txt. a.txt. /s/a.txt",
                        "3 /s/x x /s/X/y",
                        "2 /s/\xC3\xA9 \xC3\xA9 /s/\xC3\x89",
                    }));
}

class WindowsNamesBuildTest : public BuilderFixture {};

// Reported while nothing is compressed yet; going back writes nothing, going on writes
// every file that can be stored.
TEST_F(WindowsNamesBuildTest, ReportsComeBeforeCompressingAndAbortWritesNothing) {
    scratch.write("in/a.txt", "one");
    scratch.write("in/A.TXT", "two");
    scratch.write("in/nul.txt", "three");
    cab.AddFiles() = {scratch.path("in/*.*")};
    std::vector<TWindowsNameReport> got;
    bool compressedBefore = false;
    cab.OnWindowsNames = [&](tkFwCAB* sender, const std::vector<TWindowsNameReport>& reports,
                             bool& abort) {
        got = reports;
        compressedBefore = sender->FilesHandled() > 0;
        abort = true;
    };
    cab.BuildCabinet();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(compressedBefore);
    EXPECT_FALSE(cabinetWritten());
    EXPECT_TRUE(std::none_of(recorder.events.begin(), recorder.events.end(),
                             [](const std::string& event) { return event.starts_with("error"); }))
        << "going back is the user's choice, not an error";

    cab.OnWindowsNames = [&](tkFwCAB*, const std::vector<TWindowsNameReport>&, bool&) {};
    cab.BuildCabinet();
    ASSERT_TRUE(cabinetWritten());
    EXPECT_EQ(cabinetContents(cabPath).size(), 3u);
}

// A backslash is a separator inside a cabinet: such a name is refused when it would be
// added, even by a client that does not listen for the report.
TEST_F(WindowsNamesBuildTest, BackslashInANameIsRefusedWhenAdded) {
    std::string odd = scratch.write("in/..\\evil.txt", "x");
    scratch.write("in/fine.txt", "fine");
    cab.AddFiles() = {scratch.path("in/*.*")};
    std::vector<std::string> errors;
    cab.OnErrorNotify = [&](tkFwCAB* sender, int id, int code, const std::string& text,
                            int& action) {
        errors.push_back(std::to_string(id) + " " + std::to_string(code) + " " + text + " " +
                         sender->CurrentFile());
        action = kActionSkip; // skip it
    };
    cab.BuildCabinet();
    EXPECT_EQ(errors,
              (std::vector<std::string>{"802 " + std::to_string(platform::kErrorInvalidName) + " " +
                                        kBackslashNameText + " " + odd}));
    ASSERT_TRUE(cabinetWritten());
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"fine.txt", "fine"}}));
}

} // namespace
} // namespace kp::test
