#include "platform/FileCopy.h"
#include "PeTestFiles.h"
#include "ScratchFolder.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kp::platform;

namespace {

class FileCopyTest : public ::testing::Test {
protected:
    int temporaryFiles() {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
            count += entry.path().filename().string().find(".tmp") != std::string::npos;
        }
        return count;
    }

    ScratchFolder scratch;
    FaultScope faults;
};

TEST_F(FileCopyTest, ReplacesTheTargetWithAnExactCopyAndTheSourcesPermissions) {
    std::vector<std::uint8_t> bytes =
        randomBytes(3 * 1024 * 1024 + 17, 5); // several buffers' worth
    std::string source = scratch.path("stub.exe");
    writeBytes(source, bytes);
    ::chmod(source.c_str(), 0751);
    std::string target = scratch.write("target.exe", "an older, longer target file than nothing");
    ASSERT_TRUE(copyFile(source, target, false));
    EXPECT_EQ(lastError(), kErrorSuccess);
    EXPECT_EQ(readBytes(target), bytes);
    struct stat status {};
    ::stat(target.c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0751u);
    EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(FileCopyTest, FailuresKeepTheOldTargetAndReportTheirCode) {
    std::string source = scratch.write("stub.exe", std::string(5 * 1024 * 1024, 's'));
    std::string target = scratch.write("target.exe", "old");

    EXPECT_FALSE(copyFile(source, target, true));
    EXPECT_EQ(lastError(), kErrorFileExists);
    EXPECT_FALSE(copyFile(scratch.path("missing.exe"), target, false));
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_FALSE(copyFile(source, scratch.path("no/folder/target.exe"), false));
    EXPECT_EQ(lastError(), kErrorPathNotFound);
    injectFault({FileOperation::Write, ".tmp", kErrorDiskFull, 2, 1}); // the third piece fails
    EXPECT_FALSE(copyFile(source, target, false));
    EXPECT_EQ(lastError(), kErrorDiskFull);
    injectFault({FileOperation::Read, "stub.exe", kErrorReadFault, 1, 1});
    EXPECT_FALSE(copyFile(source, target, false));
    EXPECT_EQ(lastError(), kErrorReadFault);

    EXPECT_EQ(readBytes(target), std::vector<std::uint8_t>({'o', 'l', 'd'}));
    EXPECT_EQ(temporaryFiles(), 0);
}

} // namespace
