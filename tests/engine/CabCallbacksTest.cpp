// The callbacks the binding hands to the cabinet service, called as the service
// calls them.
#include "engine/CabCallbacks.h"
#include "EngineFixture.h"
#include "ProgressRecorder.h"
#include "engine/CabBinding.h"
#include "platform/LastError.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class CabCallbacksTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        progress = ProgressRecorder{};
    }
};

TEST_F(CabCallbacksTest, StatusReportsOtherThanBlocksNeverReachProgress) {
    CompContext context;
    context.ProgressProc = recordProgress;
    context.FileName = "/some/file";
    context.FileSize = 5LL * 1024 * 1024 * 1024; // past 32 bits: no overflow, no wrap
    context.BytesDone = 4LL * 1024 * 1024 * 1024;
    EXPECT_EQ(FciStatus(statusFolder, 10, 20, &context), 0);
    EXPECT_EQ(FciStatus(statusCabinet, 10, 20, &context), 0);
    EXPECT_TRUE(progress.reports.empty());
    EXPECT_EQ(FciStatus(statusFile, 100, 1024u * 1024 * 1024, &context), 0);
    ASSERT_EQ(progress.reports.size(), 1u);
    EXPECT_EQ(progress.reports[0].percent, 100);

    context.FileSize = 0;
    context.BytesDone = 0;
    EXPECT_EQ(FciStatus(statusFile, 0, 0, &context), 0);
    EXPECT_EQ(progress.reports.back().percent, 100)
        << "an empty file is done, not a division by zero";
    progress.abort = true;
    EXPECT_EQ(FciStatus(statusFile, 1, 1, &context), -1);
    EXPECT_EQ(FciFlushStatus(statusFile, 1, 1, &context), 0);
}

TEST_F(CabCallbacksTest, TempNamesAreUniqueWithPrefixAndFitTheBuffer) {
    char name[1024];
    CompContext context;
    ASSERT_TRUE(FciGetTempFile(name, sizeof name, &context));
    std::string first = name;
    EXPECT_EQ(first.rfind(tempFolder + "kFw", 0), 0u) << first;
    EXPECT_FALSE(std::filesystem::exists(first)) << "the reserving file is removed again";
    ASSERT_TRUE(FciGetTempFile(name, sizeof name, &context));
    EXPECT_NE(first, name);

    char tiny[8] = "keep";
    EXPECT_FALSE(FciGetTempFile(tiny, sizeof tiny, &context));
    EXPECT_STREQ(tiny, "keep");

    injectFault({FileOperation::TempName, "", kErrorDiskFull, 0, 1});
    EXPECT_FALSE(FciGetTempFile(name, sizeof name, &context));
}

TEST_F(CabCallbacksTest, OpenFlagsAndTransferFailuresReachTheService) {
    std::string existing = scratch.write("exists", "abc");
    CompContext context;
    int err = -5;
    // A cabinet is created beside its name; the file of that name stays untouched,
    // and deleting the cabinet by its name removes only what was written for it.
    INT_PTR cabinet = FciOpen(existing.data(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                              _S_IREAD | _S_IWRITE, &err, &context);
    ASSERT_NE(cabinet, -1);
    EXPECT_EQ(FciWrite(cabinet, const_cast<char*>("MSCF"), 4, &err, &context), 4u);
    EXPECT_EQ(FciClose(cabinet, &err, &context), 0);
    ASSERT_EQ(context.Cabinets.size(), 1u);
    std::string staging = context.Cabinets[0].StagingPath;
    EXPECT_EQ(readFileBytes(staging), "MSCF");
    EXPECT_EQ(readFileBytes(existing), "abc");
    EXPECT_EQ(FciOpen(existing.data(), _O_RDWR | _O_CREAT | _O_BINARY, 0, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorFileExists)) << "one name for two cabinets";
    EXPECT_EQ(FciDelete(existing.data(), &err, &context), 0);
    EXPECT_FALSE(std::filesystem::exists(staging));
    EXPECT_EQ(readFileBytes(existing), "abc");

    char temp[1024];
    ASSERT_TRUE(FciGetTempFile(temp, sizeof temp, &context));
    scratch.write("taken", "");
    std::filesystem::rename(scratch.path("taken"), temp);
    EXPECT_EQ(FciOpen(temp, _O_RDWR | _O_CREAT | _O_BINARY, 0, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorFileExists)) << "a temporary name taken meanwhile";
    std::filesystem::remove(temp);

    INT_PTR handle = FciOpen(existing.data(), _O_RDWR | _O_BINARY, 0, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(err, 0);
    char buffer[4] = {};
    EXPECT_EQ(FciSeek(handle, 1, 0, &err, &context), 1);
    EXPECT_EQ(FciRead(handle, buffer, 4, &err, &context), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    EXPECT_EQ(FciSeek(handle, 0, 7, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorInvalidParameter));
    EXPECT_EQ(FciWrite(handle, const_cast<char*>("Z"), 1, &err, &context), 1u);

    injectFault({FileOperation::Read, "exists", kErrorReadFault, 0, 1});
    EXPECT_EQ(FciRead(handle, buffer, 4, &err, &context), static_cast<UINT>(-1));
    EXPECT_EQ(err, static_cast<int>(kErrorReadFault));
    injectFault({FileOperation::Write, "exists", kErrorDiskFull, 0, 1});
    EXPECT_EQ(FciWrite(handle, buffer, 4, &err, &context), static_cast<UINT>(-1));
    EXPECT_EQ(err, static_cast<int>(kErrorDiskFull));
    EXPECT_EQ(FciClose(handle, &err, &context), 0);
    EXPECT_EQ(FciClose(handle, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorInvalidHandle));

    EXPECT_EQ(FciDelete(existing.data(), &err, &context), 0);
    EXPECT_EQ(FciDelete(existing.data(), &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorFileNotFound));
    EXPECT_EQ(FciAlloc(0), nullptr);
}

TEST_F(CabCallbacksTest, OpenInfoGivesLocalDosTimeMaskedAttributesAndFollowsTheFile) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    std::string file = scratch.write(".secret", "12345");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    struct timespec times[2] = {{1710510331, 0}, {1710510331, 0}}; // 2024-03-15 13:45:31
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

    CompContext context;
    context.BytesDone = 99;
    USHORT date = 0, time = 0, attributes = 0xFFFF;
    int err = 0;
    INT_PTR handle = FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (3 << 5) | 15);
    EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);
    EXPECT_EQ(attributes, _A_RDONLY | _A_HIDDEN | _A_ARCH);
    EXPECT_EQ(context.FileName, file);
    EXPECT_EQ(context.FileSize, 5);
    EXPECT_EQ(context.BytesDone, 0);
    FciClose(handle, &err, &context);

    struct timespec ancient[2] = {{0, 0}, {0, 0}}; // 1970 cannot be a DOS date
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), ancient, 0), 0);
    handle = FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, (1 << 5) | 1) << "the earliest DOS date, not garbage";
    EXPECT_EQ(time, 0);
    FciClose(handle, &err, &context);

    struct timespec future[2] = {{7258118400, 0}, {7258118400, 0}}; // 2200
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), future, 0), 0);
    handle = FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31) << "the latest DOS date";
    FciClose(handle, &err, &context);
    ::unsetenv("TZ");
    ::tzset();
}

TEST_F(CabCallbacksTest, OpenInfoFailuresReportTheSystemCode) {
    std::string file = scratch.write("f", "x");
    CompContext context;
    USHORT date, time, attributes;
    int err = 0;
    injectFault({FileOperation::Open, "f", kErrorSharingViolation, 0, 1});
    EXPECT_EQ(FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorSharingViolation));

    injectFault({FileOperation::Information, "f", kErrorAccessDenied, 0, 1});
    EXPECT_EQ(FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorAccessDenied));

    injectFault({FileOperation::Attributes, "f", kErrorAccessDenied, 0, 1});
    INT_PTR handle = FciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(attributes, 0) << "attributes that cannot be read are 0";
    FciClose(handle, &err, &context);
}

} // namespace

} // namespace kp::test
