#include "platform/Paths.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

using namespace kp::platform;

namespace kp::test {

// Every path the builder, its binding and kcab split, over generated paths with
// empty components (doubled separators), dots, wildcards, a backslash (a plain name
// character here), spaces and bytes beyond ASCII.
TEST(PathsTest, APathSplitsAtItsLastSeparatorIntoFolderAndName) {
    const std::vector<std::string> pieces = {
        "", "a", ".", "..", "x.cab", "*.*", "a\\b", "sp ace", "\xc3\xa9t\xc3\xa9"};
    std::mt19937 random(11);
    for (int i = 0; i < 5000; ++i) {
        std::string path = random() % 2 ? "/" : "";
        for (int n = int(random() % 5); n > 0; --n) {
            path += pieces[random() % pieces.size()] + (n > 1 ? "/" : "");
        }
        SCOPED_TRACE(path);
        const std::string folder = folderPart(path);
        const std::string name = namePart(path);
        EXPECT_EQ(folder + name, path);
        EXPECT_EQ(name.find(kPathSeparator), std::string::npos);
        EXPECT_EQ(folder.empty(), path.find(kPathSeparator) == std::string::npos);
        EXPECT_TRUE(folder.empty() || folder.back() == kPathSeparator);
        EXPECT_EQ(folderPart(folder), folder);

        const std::string asFolder = withTrailingSeparator(path);
        EXPECT_EQ(withTrailingSeparator(asFolder), asFolder);
        EXPECT_EQ(asFolder.empty(), path.empty()) << "the current folder stays empty";
        EXPECT_EQ(folderPart(asFolder), asFolder);
        EXPECT_EQ(asFolder.substr(0, path.size()), path);
    }
    EXPECT_EQ(folderPart("/data/out/x.cab"), "/data/out/");
    EXPECT_EQ(namePart("/data/out/x.cab"), "x.cab");
    EXPECT_EQ(folderPart("/x.cab"), "/");
    EXPECT_EQ(namePart("x.cab"), "x.cab");
}

} // namespace kp::test
