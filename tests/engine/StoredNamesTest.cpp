// What the builder finds in real trees and the names it stores them under.
#include "BuilderFixture.h"
#include "engine/EntryPaths.h"
#include "platform/CurrentDirectory.h"

#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kp::platform;

namespace {

const std::string kUtf8Name = "\xc3\xa9t\xc3\xa9.txt"; // "été.txt"

class StoredNamesTest : public BuilderFixture {
protected:
    void SetUp() override {
        BuilderFixture::SetUp();
        base = scratch.folder("base");
        scratch.write("base/a.txt", "A");
        scratch.write("base/.dot.txt", "DOT");
        scratch.write("base/" + kUtf8Name, "UTF");
        scratch.write("base/sub/b.txt", "B");
        scratch.write("base/sub/.x", "X");
        scratch.write("base/sub/deep/c.txt", "C");
        scratch.write("base/.hidden/h.txt", "H");
        ASSERT_EQ(::symlink(base.c_str(), scratch.path("base/loop").c_str()), 0);
        ASSERT_EQ(::symlink(scratch.path("base/a.txt").c_str(), scratch.path("base/alias").c_str()),
                  0);
        ASSERT_EQ(::mkfifo(scratch.path("base/pipe").c_str(), 0600), 0);
    }

    // Runs the builder and returns stored name -> contents, in cabinet order.
    std::vector<std::pair<std::string, std::string>> build() {
        cab.BuildCabinet();
        std::vector<std::pair<std::string, std::string>> stored;
        for (const CabinetFile& file : readCabinet(cabPath)) {
            stored.emplace_back(file.name, file.data);
        }
        return stored;
    }

    using Stored = std::vector<std::pair<std::string, std::string>>;

    // The base folder as stored with full paths: no leading '/', backslashes.
    std::string fullBase() const {
        std::string stored = base.substr(1);
        std::replace(stored.begin(), stored.end(), '/', '\\');
        return stored;
    }

    std::string base;
};

TEST_F(StoredNamesTest, TreeWithoutPathsStoresBareNamesSubFoldersFirst) {
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

TEST_F(StoredNamesTest, TreeWithFullPathsDropsOnlyTheRootSeparator) {
    cab.setStorePath(true);
    cab.RecurseFiles() = {base + "*.*"};
    std::string b = fullBase();
    EXPECT_EQ(build(), (Stored{{b + "sub\\deep\\c.txt", "C"},
                               {b + "sub\\.x", "X"},
                               {b + "sub\\b.txt", "B"},
                               {b + ".dot.txt", "DOT"},
                               {b + "a.txt", "A"},
                               {b + "alias", "A"},
                               {b + kUtf8Name, "UTF"}}));
}

TEST_F(StoredNamesTest, TreeWithPartialPathsIsRelativeToTheEntryFolder) {
    cab.setStorePath(true);
    cab.setPartialPath(true);
    cab.RecurseFiles() = {base + "*.txt"};
    EXPECT_EQ(build(), (Stored{{"sub\\deep\\c.txt", "C"},
                               {"sub\\b.txt", "B"},
                               {".dot.txt", "DOT"},
                               {"a.txt", "A"},
                               {kUtf8Name, "UTF"}}));
}

TEST_F(StoredNamesTest, PartialPathsOfAFolderEntryAreBareNames) {
    cab.setStorePath(true);
    cab.setPartialPath(true);
    cab.AddFiles() = {base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(StoredNamesTest, PartialPathWithoutStorePathIsIgnored) {
    cab.setPartialPath(true);
    cab.RecurseFiles() = {base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{"c.txt", "C"}, {".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(StoredNamesTest, NamesBeyondAsciiCarryTheUtf8Flag) {
    cab.AddFiles() = {base + "*.txt"};
    cab.BuildCabinet();
    for (const CabinetFile& file : readCabinet(cabPath)) {
        EXPECT_EQ((file.attributes & MSCAB_ATTRIB_UTF_NAME) != 0, file.name == kUtf8Name)
            << file.name;
        EXPECT_TRUE(file.attributes & MSCAB_ATTRIB_ARCH) << file.name;
    }
}

TEST_F(StoredNamesTest, EntryWithoutFolderPartRefersToTheCurrentFolder) {
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(base + "sub"));
    cab.AddFiles() = {"b.txt"};
    cab.BuildCabinet();
    ASSERT_TRUE(setCurrentDirectory(previous));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"b.txt", "B"}}));
}

TEST_F(StoredNamesTest, RelativeEntryWithFullPathsKeepsItsFirstCharacter) {
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(scratch.path()));
    cab.setStorePath(true);
    cab.AddFiles() = {"base/sub/*.txt"};
    cab.BuildCabinet();
    ASSERT_TRUE(setCurrentDirectory(previous));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"base\\sub\\b.txt", "B"}}));
}

TEST_F(StoredNamesTest, TheSameEntryTwiceAddsItsFilesTwice) {
    cab.AddFiles() = {base + "sub/*.*", base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{".x", "X"}, {"b.txt", "B"}, {".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(StoredNamesTest, MissingFoldersAndEmptyMasksContributeNothingQuietly) {
    cab.AddFiles() = {scratch.path("absent/") + "*.*", base + "*.none", base + "a.txt"};
    cab.RecurseFiles() = {scratch.path("absent/") + "*.*"};
    EXPECT_EQ(build(), (Stored{{"a.txt", "A"}}));
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 100", "major 100",
                                       "minor '' 100"}));
}

TEST_F(StoredNamesTest, AddFilesComeBeforeRecurseFilesInListOrder) {
    cab.RecurseFiles() = {base + "sub/deep/*.*", base + "sub/*.txt"};
    cab.AddFiles() = {base + "a.txt", base + ".dot.txt"};
    EXPECT_EQ(
        build(),
        (Stored{
            {"a.txt", "A"}, {".dot.txt", "DOT"}, {"c.txt", "C"}, {"c.txt", "C"}, {"b.txt", "B"}}));
}

TEST(EntryPathsTest, EntriesSplitIntoFolderAndMask) {
    EXPECT_EQ(EntryFolder("/data/sub/*.*"), "/data/sub/");
    EXPECT_EQ(EntryMask("/data/sub/*.*"), "*.*");
    EXPECT_EQ(EntryFolder("a.txt"), "");
    EXPECT_EQ(EntryMask("a.txt"), "a.txt");
    EXPECT_EQ(DrivePartLength("/data/a.txt"), 0u);
    EXPECT_EQ(StoredName("/data/sub/", "a.txt", "/data/", true, false), "data\\sub\\a.txt");
    EXPECT_EQ(StoredName("/data/sub/", "a.txt", "/data/", true, true), "sub\\a.txt");
    EXPECT_EQ(StoredName("/data/sub/", "a.txt", "/data/", false, true), "a.txt");
    EXPECT_EQ(StoredName("data/", "a.txt", "data/", true, false), "data\\a.txt");
}

} // namespace
