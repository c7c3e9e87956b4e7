#include "platform/TempFiles.h"
#include "ScratchFolder.h"
#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/LastError.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* previous = std::getenv("TMPDIR");
        saved = previous ? previous : "";
        hadTmpdir = previous != nullptr;
        ::setenv("TMPDIR", scratch.path("tmp").c_str(), 1);
    }
    void TearDown() override {
        if (hadTmpdir) {
            ::setenv("TMPDIR", saved.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }
    ScratchFolder scratch;
    std::string saved;
    bool hadTmpdir = false;
};

TEST_F(TempFilesTest, FolderComesFromTmpdirWithSeparator) {
    EXPECT_EQ(tempFolder(), scratch.path("tmp") + "/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(tempFolder(), "/tmp/");
}

TEST_F(TempFilesTest, UniqueNamesAreReservedWithPrefix) {
    std::string folder = scratch.folder("tmp");
    std::string first = createUniqueTempFile(folder, "kFw");
    std::string second = createUniqueTempFile(folder, "kFw");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(folder + "kFw", 0), 0u) << first;
    EXPECT_EQ(first.substr(first.size() - 4), ".tmp");
    EXPECT_TRUE(fileExists(first));
    EXPECT_TRUE(fileExists(second));
}

TEST_F(TempFilesTest, MissingFolderAndInjectedFaultFail) {
    EXPECT_TRUE(createUniqueTempFile(scratch.path("absent"), "kFw").empty());
    EXPECT_EQ(lastError(), kErrorPathNotFound);

    FaultScope faults;
    injectFault({FileOperation::TempName, "kFw", kErrorDiskFull, 0, 1});
    EXPECT_TRUE(createUniqueTempFile(scratch.folder("tmp"), "kFw").empty());
    EXPECT_EQ(lastError(), kErrorDiskFull);
    EXPECT_FALSE(createUniqueTempFile(scratch.folder("tmp"), "kFw").empty());
}

} // namespace

} // namespace kp::test
