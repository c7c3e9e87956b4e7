// Which files the builder's walk takes from real trees, in which order, and what it
// passes over.
#include "engine/FolderWalk.h"
#include "WalkedTreeFixture.h"
#include "platform/CurrentDirectory.h"
#include "platform/DirectorySearch.h"
#include "platform/Paths.h"

#include <set>

using namespace kp::platform;

namespace kp::test {

namespace {

class FolderWalkTest : public WalkedTreeFixture {
protected:
    void SetUp() override {
        WalkedTreeFixture::SetUp();
        ASSERT_EQ(::symlink(scratch.path("gone").c_str(), (base + "sub/dangling").c_str()), 0);
        ASSERT_EQ(::mkfifo((base + "sub/deep/fifo.txt").c_str(), 0600), 0);
    }
};

using LeftOut = std::vector<std::pair<std::string, LeftOutReason>>;

LeftOut leftOut(const std::string& folder, const std::string& mask, bool recursive) {
    LeftOut found;
    for (const LeftOutEntry& entry : LeftOutEntries(folder, mask, recursive)) {
        found.emplace_back(entry.Path, entry.Reason);
    }
    return found;
}

TEST_F(FolderWalkTest, LeftOutEntriesComeInNameOrderEachSubFoldersAtItsPlace) {
    using enum LeftOutReason;
    EXPECT_EQ(leftOut(base, "*.*", true), (LeftOut{{base + ".hidden", HiddenFolder},
                                                   {base + "loop", LinkToFolder},
                                                   {base + "pipe", NotARegularFile},
                                                   {base + "sub/dangling", DanglingLink},
                                                   {base + "sub/deep/fifo.txt", NotARegularFile}}));
    EXPECT_EQ(leftOut(base, "*.*", false), (LeftOut{{base + "pipe", NotARegularFile}}))
        << "without recursion no folder is entered or passed over";
    EXPECT_EQ(leftOut(base, "*.txt", true),
              (LeftOut{{base + ".hidden", HiddenFolder},
                       {base + "loop", LinkToFolder},
                       {base + "sub/deep/fifo.txt", NotARegularFile}}))
        << "folders whatever the mask, other entries only where it matches";
    EXPECT_EQ(leftOut(scratch.path("absent/"), "*.*", true), LeftOut{});
}

// What a user is warned about beforehand and what the run passes over cannot drift
// apart: every entry of a folder is taken, entered or named as left out, exactly once.
TEST_F(FolderWalkTest, EveryEntryIsTakenEnteredOrLeftOutExactlyOnce) {
    for (const std::string& folder : {base, base + "sub/", std::string("/dev/")}) {
        SCOPED_TRACE(folder);
        std::vector<FoundEntry> listed;
        ASSERT_TRUE(listEntries(folder + "*.*", listed));
        std::multiset<std::string> expected;
        for (const FoundEntry& entry : listed) {
            expected.insert(entry.name);
        }
        std::multiset<std::string> accounted;
        for (const std::string& name : MatchingFiles(folder, "*.*")) {
            accounted.insert(name);
        }
        for (const std::string& name : EnteredSubFolders(folder)) {
            accounted.insert(name);
        }
        for (const LeftOutEntry& entry : LeftOutEntries(folder, "*.*", true)) {
            if (folderPart(entry.Path) == folder) {
                accounted.insert(namePart(entry.Path));
            }
        }
        EXPECT_EQ(accounted, expected);
        EXPECT_EQ(CountFiles(folder, "*.*", false),
                  static_cast<std::int32_t>(MatchingFiles(folder, "*.*").size()));
    }
}

TEST_F(FolderWalkTest, SubFoldersComeFirstAndHiddenFoldersLinksToFoldersAndFifosAreLeftOut) {
    cab.RecurseFiles() = {base + "*.*"};
    EXPECT_EQ(build(), (Stored{{"c.txt", "C"},
                               {".x", "X"},
                               {"b.txt", "B"},
                               {".dot.txt", "DOT"},
                               {"a.txt", "A"},
                               {"alias", "A"},
                               {kUtf8Name, "UTF"}}));
    EXPECT_EQ(recorder.events[2], "major 14") << "7 files counted";
}

TEST_F(FolderWalkTest, EntryWithoutFolderPartRefersToTheCurrentFolder) {
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(base + "sub"));
    cab.AddFiles() = {"b.txt"};
    cab.BuildCabinet();
    ASSERT_TRUE(setCurrentDirectory(previous));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"b.txt", "B"}}));
}

TEST_F(FolderWalkTest, TheSameEntryTwiceAddsItsFilesTwice) {
    cab.AddFiles() = {base + "sub/*.*", base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{".x", "X"}, {"b.txt", "B"}, {".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(FolderWalkTest, MissingFoldersAndEmptyMasksContributeNothingQuietly) {
    cab.AddFiles() = {scratch.path("absent/") + "*.*", base + "*.none", base + "a.txt"};
    cab.RecurseFiles() = {scratch.path("absent/") + "*.*"};
    EXPECT_EQ(build(), (Stored{{"a.txt", "A"}}));
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 100", "major 100",
                                       "minor '' 100"}));
}

TEST_F(FolderWalkTest, AddFilesComeBeforeRecurseFilesInListOrder) {
    cab.RecurseFiles() = {base + "sub/deep/*.*", base + "sub/*.txt"};
    cab.AddFiles() = {base + "a.txt", base + ".dot.txt"};
    EXPECT_EQ(
        build(),
        (Stored{
            {"a.txt", "A"}, {".dot.txt", "DOT"}, {"c.txt", "C"}, {"c.txt", "C"}, {"b.txt", "B"}}));
}

} // namespace

} // namespace kp::test
