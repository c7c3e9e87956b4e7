#include "platform/LastError.h"

#include <cerrno>

#include <gtest/gtest.h>

using namespace kp::platform;

namespace kp::test {

TEST(LastErrorTest, ErrnoValuesMapToWindowsCodes) {
    EXPECT_EQ(errorFromErrno(ENOENT), kErrorFileNotFound);
    EXPECT_EQ(errorFromErrno(ENOSPC), kErrorDiskFull);
    EXPECT_EQ(errorFromErrno(EIO, false), kErrorReadFault);
    EXPECT_EQ(errorFromErrno(EIO, true), kErrorWriteFault);
    EXPECT_EQ(folderErrorFromErrno(ENOENT), kErrorPathNotFound) << "a missing folder";
    EXPECT_EQ(folderErrorFromErrno(EACCES), kErrorAccessDenied);
    EXPECT_EQ(systemErrorMessage(kErrorAccessDenied), "Access is denied.");
    EXPECT_EQ(systemErrorMessage(99999), "Unknown error 99999.");
}

} // namespace kp::test
