// The names the builder stores the files of a real tree under.
#include "WalkedTreeFixture.h"
#include "platform/CurrentDirectory.h"

#include <mspack.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class StoredNameTest : public WalkedTreeFixture {};

TEST_F(StoredNameTest, TreeWithFullPathsDropsOnlyTheRootSeparator) {
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

TEST_F(StoredNameTest, TreeWithPartialPathsIsRelativeToTheEntryFolder) {
    cab.setStorePath(true);
    cab.setPartialPath(true);
    cab.RecurseFiles() = {base + "*.txt"};
    EXPECT_EQ(build(), (Stored{{"sub\\deep\\c.txt", "C"},
                               {"sub\\b.txt", "B"},
                               {".dot.txt", "DOT"},
                               {"a.txt", "A"},
                               {kUtf8Name, "UTF"}}));
}

TEST_F(StoredNameTest, PartialPathsOfAFolderEntryAreBareNames) {
    cab.setStorePath(true);
    cab.setPartialPath(true);
    cab.AddFiles() = {base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(StoredNameTest, PartialPathWithoutStorePathIsIgnored) {
    cab.setPartialPath(true);
    cab.RecurseFiles() = {base + "sub/*.*"};
    EXPECT_EQ(build(), (Stored{{"c.txt", "C"}, {".x", "X"}, {"b.txt", "B"}}));
}

TEST_F(StoredNameTest, NamesBeyondAsciiCarryTheUtf8Flag) {
    cab.AddFiles() = {base + "*.txt"};
    cab.BuildCabinet();
    for (const CabinetFile& file : readCabinet(cabPath)) {
        EXPECT_EQ((file.attributes & MSCAB_ATTRIB_UTF_NAME) != 0, file.name == kUtf8Name)
            << file.name;
        EXPECT_TRUE(file.attributes & MSCAB_ATTRIB_ARCH) << file.name;
    }
}

TEST_F(StoredNameTest, RelativeEntryWithFullPathsKeepsItsFirstCharacter) {
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(scratch.path()));
    cab.setStorePath(true);
    cab.AddFiles() = {"base/sub/*.txt"};
    cab.BuildCabinet();
    ASSERT_TRUE(setCurrentDirectory(previous));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"base\\sub\\b.txt", "B"}}));
}

} // namespace

} // namespace kp::test
