#include "platform/Files.h"
#include "ScratchFolder.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class FilesTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
    FaultScope faults;
};

TEST_F(FilesTest, OpenFailuresCarryWindowsCodes) {
    EXPECT_EQ(openFile(scratch.path("missing"), FileAccess::Read, FileDisposition::OpenExisting),
              kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorFileNotFound);

    EXPECT_EQ(
        openFile(scratch.path("no/such/file"), FileAccess::Read, FileDisposition::OpenExisting),
        kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorPathNotFound);

    std::string existing = scratch.write("there", "x");
    EXPECT_EQ(openFile(existing, FileAccess::ReadWrite, FileDisposition::CreateNew),
              kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorFileExists);

    EXPECT_EQ(openFile(scratch.folder("dir"), FileAccess::Read, FileDisposition::OpenExisting),
              kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
}

TEST_F(FilesTest, FifoIsRefusedWithoutBlocking) {
    std::string fifo = scratch.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(openFile(fifo, FileAccess::Read, FileDisposition::OpenExisting), kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
}

TEST_F(FilesTest, WriteSeekReadRoundTrip) {
    std::string name = scratch.path("data");
    FileHandle handle = openFile(name, FileAccess::ReadWrite, FileDisposition::CreateNew);
    ASSERT_NE(handle, kInvalidHandle);
    std::uint32_t moved = 0;
    ASSERT_TRUE(writeFile(handle, "hello world", 11, moved));
    EXPECT_EQ(moved, 11u);

    EXPECT_EQ(seekFile(handle, -5, SeekOrigin::End), 6);
    char buffer[16] = {};
    ASSERT_TRUE(readFile(handle, buffer, sizeof buffer, moved));
    EXPECT_EQ(moved, 5u);
    EXPECT_EQ(std::string(buffer, moved), "world");

    EXPECT_EQ(seekFile(handle, 0, SeekOrigin::Begin), 0);
    EXPECT_EQ(seekFile(handle, 3, SeekOrigin::Current), 3);
    EXPECT_EQ(seekFile(handle, -4, SeekOrigin::Current), -1);
    EXPECT_EQ(lastError(), kErrorNegativeSeek);

    FileInformation information;
    ASSERT_TRUE(fileInformation(handle, information));
    EXPECT_EQ(information.size, 11u);
    EXPECT_TRUE(closeFile(handle));

    EXPECT_FALSE(closeFile(handle));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_FALSE(readFile(handle, buffer, 1, moved));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

TEST_F(FilesTest, ReadOnlyHandleRefusesWrites) {
    FileHandle handle =
        openFile(scratch.write("ro", "abc"), FileAccess::Read, FileDisposition::OpenExisting);
    ASSERT_NE(handle, kInvalidHandle);
    std::uint32_t moved = 7;
    EXPECT_FALSE(writeFile(handle, "x", 1, moved));
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    closeFile(handle);
}

TEST_F(FilesTest, DeleteReportsMissingFilesAndFolders) {
    std::string name = scratch.write("gone", "x");
    EXPECT_TRUE(deleteFile(name));
    EXPECT_FALSE(fileExists(name));
    EXPECT_FALSE(deleteFile(name));
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_FALSE(deleteFile(scratch.folder("keep")));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
}

TEST_F(FilesTest, AttributesFollowNamesAndPermissions) {
    EXPECT_EQ(fileAttributes(scratch.write("plain.txt", "x")), kAttrArchive);
    EXPECT_EQ(fileAttributes(scratch.write(".hidden", "x")), kAttrArchive | kAttrHidden);
    std::string readOnly = scratch.write("locked", "x");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_EQ(fileAttributes(readOnly), kAttrArchive | kAttrReadOnly);
    EXPECT_EQ(fileAttributes(scratch.folder(".cache")), kAttrDirectory | kAttrHidden);
    EXPECT_EQ(fileAttributes(scratch.path("nothing")), kInvalidFileAttributes);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_FALSE(fileExists(scratch.folder("folder")));
}

// kcab decides what to replace and what to refuse from these answers, so a link must
// never pass for the file it leads to unless the caller asked to follow it.
TEST_F(FilesTest, PathKindTellsLinksFifosAndSizes) {
    std::string file = scratch.write("file", "12345");
    std::string folder = scratch.folder("folder");
    std::string fifo = scratch.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string link = scratch.path("link");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    std::string dangling = scratch.path("dangling");
    ASSERT_EQ(::symlink(scratch.path("gone").c_str(), dangling.c_str()), 0);

    EXPECT_EQ(pathKind(file), PathKind::File);
    EXPECT_EQ(pathKind(folder), PathKind::Folder);
    EXPECT_EQ(pathKind(fifo), PathKind::Other);
    EXPECT_EQ(pathKind(link), PathKind::File);
    EXPECT_EQ(pathKind(link, false), PathKind::Link);
    EXPECT_EQ(pathKind(dangling, false), PathKind::Link);
    EXPECT_EQ(pathKind(dangling), PathKind::Missing);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_EQ(pathKind(file + "/child"), PathKind::Missing);

    std::uint64_t size = 0;
    ASSERT_TRUE(fileSize(link, size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(fileSize(dangling, size));

    injectFault({FileOperation::Status, "file", kErrorAccessDenied, 0, 2});
    EXPECT_EQ(pathKind(file), PathKind::Missing);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_FALSE(fileSize(file, size));
    EXPECT_EQ(pathKind(file), PathKind::File) << "the fault wears off after two calls";
}

TEST_F(FilesTest, InjectedFaultsMatchPathSkipAndWearOff) {
    std::string target = scratch.write("target.bin", "0123456789");
    std::string other = scratch.write("other.bin", "x");
    injectFault({FileOperation::Open, "target", kErrorSharingViolation, 0, 1});

    FileHandle otherHandle = openFile(other, FileAccess::Read, FileDisposition::OpenExisting);
    EXPECT_NE(otherHandle, kInvalidHandle);
    closeFile(otherHandle);
    EXPECT_EQ(openFile(target, FileAccess::Read, FileDisposition::OpenExisting), kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorSharingViolation);
    FileHandle handle = openFile(target, FileAccess::Read, FileDisposition::OpenExisting);
    ASSERT_NE(handle, kInvalidHandle) << "a fault of one time must wear off";

    injectFault({FileOperation::Read, "target", kErrorReadFault, 1, -1});
    char buffer[4];
    std::uint32_t moved = 0;
    EXPECT_TRUE(readFile(handle, buffer, 4, moved));
    EXPECT_FALSE(readFile(handle, buffer, 4, moved));
    EXPECT_EQ(lastError(), kErrorReadFault);
    EXPECT_FALSE(readFile(handle, buffer, 4, moved));
    closeFile(handle);

    clearFaults();
    handle = openFile(target, FileAccess::Read, FileDisposition::OpenExisting);
    EXPECT_TRUE(readFile(handle, buffer, 4, moved));
    closeFile(handle);
}

TEST_F(FilesTest, InjectedWriteAndCloseFaults) {
    std::string name = scratch.path("out.bin");
    injectFault({FileOperation::Write, "out.bin", kErrorDiskFull, 0, -1});
    injectFault({FileOperation::Close, "out.bin", kErrorWriteFault, 0, 1});
    FileHandle handle = openFile(name, FileAccess::Write, FileDisposition::CreateAlways);
    ASSERT_NE(handle, kInvalidHandle);
    std::uint32_t moved = 9;
    EXPECT_FALSE(writeFile(handle, "abc", 3, moved));
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(lastError(), kErrorDiskFull);
    EXPECT_FALSE(closeFile(handle));
    EXPECT_EQ(lastError(), kErrorWriteFault);
    // The handle is gone all the same: a second close finds nothing to close.
    EXPECT_FALSE(closeFile(handle));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

} // namespace

} // namespace kp::test
