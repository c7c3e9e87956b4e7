#include "platform/DirectorySearch.h"
#include "ScratchFolder.h"
#include "platform/CurrentDirectory.h"
#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kp::platform;

namespace kp::test {

namespace {

std::vector<std::string> namesOf(const std::vector<FoundEntry>& entries) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : entries) {
        names.push_back(entry.name);
    }
    return names;
}

std::vector<std::string> search(const std::string& pattern, std::uint32_t admit) {
    std::vector<FoundEntry> entries;
    EXPECT_TRUE(findEntries(pattern, admit, entries)) << pattern;
    return namesOf(entries);
}

using Names = std::vector<std::string>;

TEST(DirectorySearchTest, EntriesComeSortedByBytes) {
    ScratchFolder scratch;
    for (const char* name : {"b", "B", "a1", "a", "\xc3\xa9t\xc3\xa9"}) {
        scratch.write(name, "x");
    }
    EXPECT_EQ(search(scratch.path() + "*.*", kAttrAnyFile),
              (Names{"B", "a", "a1", "b", "\xc3\xa9t\xc3\xa9"}));
}

TEST(DirectorySearchTest, MasksMatchAsWindowsButCaseSensitively) {
    ScratchFolder scratch;
    for (const char* name : {"noext", "a.txt", "b.TXT", "c.c", "cc.c", "archive.tar.gz"}) {
        scratch.write(name, "x");
    }
    std::string folder = scratch.path();
    EXPECT_EQ(search(folder + "*.*", kAttrAnyFile).size(), 6u);
    EXPECT_EQ(search(folder + "*.txt", kAttrAnyFile), (Names{"a.txt"}));
    EXPECT_EQ(search(folder + "?.c", kAttrAnyFile), (Names{"c.c"}));
    EXPECT_EQ(search(folder + "*.gz", kAttrAnyFile), (Names{"archive.tar.gz"}));
    EXPECT_EQ(search(folder + "noext", kAttrAnyFile), (Names{"noext"}));
    EXPECT_TRUE(search(folder + "nothing*", kAttrAnyFile).empty());
}

TEST(DirectorySearchTest, AdmitMaskFiltersHiddenEntriesAndFolders) {
    ScratchFolder scratch;
    scratch.write("visible", "x");
    scratch.write(".hidden", "x");
    scratch.folder("sub");
    scratch.folder(".git");
    std::string all = scratch.path() + "*.*";
    EXPECT_EQ(search(all, 0), (Names{"visible"}));
    EXPECT_EQ(search(all, kAttrDirectory), (Names{"sub", "visible"}));
    EXPECT_EQ(search(all, kAttrAnyFile), (Names{".git", ".hidden", "sub", "visible"}));

    std::vector<FoundEntry> entries;
    ASSERT_TRUE(findEntries(all, kAttrAnyFile, entries));
    EXPECT_EQ(entries[0].attributes, kAttrDirectory | kAttrHidden);
    EXPECT_EQ(entries[1].attributes, kAttrArchive | kAttrHidden);
}

TEST(DirectorySearchTest, LinksToFoldersAreMarkedAndSpecialFilesLeftOut) {
    ScratchFolder scratch;
    scratch.write("real/file", "12345");
    ASSERT_EQ(::symlink(scratch.path("real").c_str(), scratch.path("loop").c_str()), 0);
    ASSERT_EQ(::symlink(scratch.path("real/file").c_str(), scratch.path("alias").c_str()), 0);
    ASSERT_EQ(::symlink(scratch.path("nowhere").c_str(), scratch.path("dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo(scratch.path("pipe").c_str(), 0600), 0);

    std::string all = scratch.path() + "*.*";
    EXPECT_EQ(search(all, kAttrDirectory), (Names{"alias", "real"}));
    std::vector<FoundEntry> entries;
    ASSERT_TRUE(findEntries(all, kAttrAnyFile | kAttrReparsePoint, entries));
    ASSERT_EQ(namesOf(entries), (Names{"alias", "loop", "real"}));
    EXPECT_EQ(entries[0].attributes, kAttrArchive);
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(entries[1].attributes, kAttrDirectory | kAttrReparsePoint);

    // A full listing keeps what the search leaves out, each with its kind.
    ASSERT_TRUE(listEntries(all, entries));
    std::vector<std::pair<std::string, EntryKind>> kinds;
    for (const FoundEntry& entry : entries) {
        kinds.emplace_back(entry.name, entry.kind);
        EXPECT_EQ(admitted(entry, kAttrAnyFile | kAttrReparsePoint),
                  entry.kind == EntryKind::File || entry.kind == EntryKind::Folder)
            << entry.name;
    }
    EXPECT_EQ(kinds,
              (std::vector<std::pair<std::string, EntryKind>>{{"alias", EntryKind::File},
                                                              {"dangling", EntryKind::DanglingLink},
                                                              {"loop", EntryKind::Folder},
                                                              {"pipe", EntryKind::Special},
                                                              {"real", EntryKind::Folder}}));
}

TEST(DirectorySearchTest, MissingFolderAndInjectedFaultFail) {
    ScratchFolder scratch;
    std::vector<FoundEntry> entries;
    EXPECT_FALSE(findEntries(scratch.path("none/") + "*.*", kAttrAnyFile, entries));
    EXPECT_EQ(lastError(), kErrorPathNotFound);

    FaultScope faults;
    scratch.write("f", "x");
    injectFault({FileOperation::Search, scratch.path(), kErrorAccessDenied, 0, 1});
    EXPECT_FALSE(findEntries(scratch.path() + "*.*", kAttrAnyFile, entries));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_TRUE(entries.empty());
}

TEST(DirectorySearchTest, PatternWithoutFolderSearchesCurrentDirectory) {
    ScratchFolder scratch;
    scratch.write("here.txt", "x");
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(scratch.path()));
    std::vector<std::string> found = search("*.txt", kAttrAnyFile);
    ASSERT_TRUE(setCurrentDirectory(previous));
    EXPECT_EQ(found, (Names{"here.txt"}));
    EXPECT_FALSE(setCurrentDirectory(scratch.path("absent")));
    EXPECT_EQ(lastError(), kErrorPathNotFound);
}

} // namespace

} // namespace kp::test
