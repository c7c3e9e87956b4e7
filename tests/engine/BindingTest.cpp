#include "EngineFixture.h"
#include "engine/CabBinding.h"
#include "engine/CabCallbacks.h"
#include "platform/CurrentDirectory.h"
#include "platform/LastError.h"

#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>

using namespace kp::platform;

namespace {

struct ProgressReport {
    std::string file;
    int percent;
};
std::vector<ProgressReport> progressReports;
bool abortProgress = false;
bool throwFromProgress = false;

void recordProgress(const std::string& FileName, int Percent, bool& Abort) {
    progressReports.push_back({FileName, Percent});
    if (throwFromProgress) {
        throw std::runtime_error("handler failed");
    }
    Abort = abortProgress;
}

int nextCabCalls = 0;
bool abortNextCab = false;
bool throwFromNextCab = false;

void renameNextCab(std::string& CabName, std::string& DiskName, int CabNo, int& DiskNo,
                   bool& Abort) {
    ++nextCabCalls;
    if (throwFromNextCab) {
        throw std::runtime_error("handler failed");
    }
    CabName = "part" + std::to_string(CabNo) + ".cab";
    DiskName = "disk" + std::to_string(CabNo);
    ++DiskNo;
    Abort = abortNextCab;
}

class BindingTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        progressReports.clear();
        abortProgress = throwFromProgress = false;
        nextCabCalls = 0;
        abortNextCab = throwFromNextCab = false;
    }

    std::unique_ptr<CabContext> create(const std::string& cabName,
                                       std::int32_t cabinetSize = 0x7FFFFFFF) {
        return CabCreate(scratch.path(cabName), "", 831415, cabinetSize, 7, 0, recordProgress,
                         renameNextCab);
    }
};

TEST(CabCompressionTypeTest, LowByteIsTheMethodAndOnlyLzxCarriesItsWindow) {
    EXPECT_EQ(CabCompressionType(ctLzx, 21), 0x1503);
    EXPECT_EQ(CabCompressionType(ctLzx, 15), 0x0F03);
    EXPECT_EQ(CabCompressionType(ctMsZip, 21), 0x0001);
    EXPECT_EQ(CabCompressionType(ctNone, 17), 0x0000);
    EXPECT_EQ(CabCompressionType(ctQuantum, 21), 0x0002);
}

TEST(CabPathTest, CabinetPathSplitsAtTheLastSeparator) {
    EXPECT_EQ(CabFolderPart("/data/out/x.cab"), "/data/out/");
    EXPECT_EQ(CabNamePart("/data/out/x.cab"), "x.cab");
    EXPECT_EQ(CabFolderPart("x.cab"), "");
    EXPECT_EQ(CabNamePart("x.cab"), "x.cab");
    EXPECT_EQ(CabFolderPart("/x.cab"), "/");
}

TEST(CabErrorTextTest, EveryServiceCodeHasItsText) {
    const char* expected[] = {"No error",
                              "Failure opening file to be stored in cabinet",
                              "Failure reading file to be stored in cabinet",
                              "Out of memory during compression",
                              "Could not create a temporary file",
                              "Unknown compression type",
                              "Could not create cabinet file",
                              "User abort",
                              "Failure compressing data"};
    for (int code = 0; code <= 8; ++code) {
        EXPECT_EQ(CabErrorText(ERF{code, 0, TRUE}), expected[code]) << code;
    }
    EXPECT_NE(CabErrorText(ERF{FCIERR_CAB_FORMAT_LIMIT, 0, TRUE}).find("format limit"),
              std::string::npos);
    EXPECT_EQ(CabErrorText(ERF{10, 0, TRUE}), "Unknown error!");
    EXPECT_EQ(CabErrorText(ERF{-1, 0, TRUE}), "Unknown error!");
}

TEST_F(BindingTest, WritesACabinetThatLibmspackReads) {
    std::string text = scratch.write("in/a.txt", "hello, cabinet");
    std::string noise = scratch.write("in/noise.bin", randomBytes(100000, 1));
    auto context = create("out.cab");
    ASSERT_TRUE(context);
    EXPECT_EQ(CabLastError().fError, FALSE);
    ASSERT_TRUE(CabAddFile(*context, text, "a.txt", false, ctMsZip, 21));
    ASSERT_TRUE(CabAddFile(*context, noise, "dir\\noise.bin", false, ctNone, 21));
    ASSERT_TRUE(CabFlush(*context, false));
    EXPECT_TRUE(CabDestroy(*context));

    auto files = readCabinet(scratch.path("out.cab"));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "a.txt");
    EXPECT_EQ(files[0].data, "hello, cabinet");
    EXPECT_EQ(files[1].name, "dir\\noise.bin");
    EXPECT_EQ(files[1].data, randomBytes(100000, 1));
    // The set identifier keeps only its low 16 bits.
    std::string header = readFileBytes(scratch.path("out.cab")).substr(32, 2);
    EXPECT_EQ(header, std::string("\x07\x00", 2));
}

TEST_F(BindingTest, CabinetWithoutFolderPartGoesToTheCurrentFolder) {
    std::string source = scratch.write("a.txt", "x");
    std::string previous = currentDirectory();
    ASSERT_TRUE(setCurrentDirectory(scratch.path()));
    auto context =
        CabCreate("here.cab", "", 831415, 0x7FFFFFFF, 1, 0, recordProgress, renameNextCab);
    bool written = context && CabAddFile(*context, source, "a.txt", false, ctMsZip, 15) &&
                   CabFlush(*context, false);
    if (context) {
        CabDestroy(*context);
    }
    ASSERT_TRUE(setCurrentDirectory(previous));
    ASSERT_TRUE(written);
    EXPECT_EQ(cabinetContents(scratch.path("here.cab")), (NamedContents{{"a.txt", "x"}}));
}

TEST_F(BindingTest, OverlongCabinetNameIsRefusedAtCreation) {
    auto context = create(std::string(300, 'n') + ".cab");
    EXPECT_FALSE(context);
    ERF error = CabLastError();
    EXPECT_EQ(error.erfOper, FCIERR_CAB_FILE);
    EXPECT_EQ(error.erfType, static_cast<int>(kErrorFilenameTooLong));
    EXPECT_TRUE(error.fError);
}

TEST_F(BindingTest, ProgressFollowsTheFileAndItsAbortFailsTheAdd) {
    std::string big = scratch.write("big.bin", randomBytes(3 * 32768 + 100, 2));
    auto context = create("out.cab");
    ASSERT_TRUE(context);
    ASSERT_TRUE(CabAddFile(*context, big, "big.bin", false, ctMsZip, 15));
    ASSERT_EQ(progressReports.size(), 3u) << "one report per full block";
    EXPECT_EQ(progressReports[0].file, big);
    EXPECT_EQ(progressReports[0].percent, 32768 * 100 / (3 * 32768 + 100));
    EXPECT_EQ(progressReports[2].percent, 3 * 32768 * 100 / (3 * 32768 + 100));

    progressReports.clear();
    ASSERT_TRUE(CabFlush(*context, false));
    EXPECT_TRUE(progressReports.empty()) << "the flush reports nothing to ProgressProc";

    std::string second = scratch.write("second.bin", randomBytes(40000, 3));
    abortProgress = true;
    EXPECT_FALSE(CabAddFile(*context, second, "second.bin", false, ctMsZip, 15));
    EXPECT_EQ(CabLastError().erfOper, FCIERR_USER_ABORT);
    CabDestroy(*context);
}

TEST_F(BindingTest, ExceptionsFromHandlersFailTheCallWithNoError) {
    std::string big = scratch.write("big.bin", randomBytes(40000, 4));
    auto context = create("out.cab");
    ASSERT_TRUE(context);
    throwFromProgress = true;
    EXPECT_FALSE(CabAddFile(*context, big, "big.bin", false, ctMsZip, 15));
    ERF error = CabLastError();
    EXPECT_EQ(error.erfOper, 0);
    EXPECT_EQ(error.erfType, 0);
    EXPECT_FALSE(error.fError);
    EXPECT_EQ(CabErrorText(error), "No error");
    EXPECT_TRUE(CabDestroy(*context));
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out.cab")));
}

TEST_F(BindingTest, NextCabinetIsNamedByTheRelayOrRefused) {
    auto context = create("first.cab", 40000);
    ASSERT_TRUE(context);
    std::vector<std::string> sources;
    for (int i = 0; i < 4; ++i) {
        sources.push_back(scratch.write("in/f" + std::to_string(i), randomBytes(30000, 10 + i)));
        ASSERT_TRUE(
            CabAddFile(*context, sources.back(), "f" + std::to_string(i), false, ctNone, 15));
    }
    ASSERT_TRUE(CabFlush(*context, false));
    CabDestroy(*context);
    EXPECT_GE(nextCabCalls, 2);
    EXPECT_TRUE(std::filesystem::exists(scratch.path("part2.cab")));
    auto extracted = extractWithCabextract(scratch.path("first.cab"), scratch.path("out"));
    ASSERT_EQ(extracted.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(extracted["f" + std::to_string(i)], randomBytes(30000, 10 + i));
    }
}

TEST_F(BindingTest, RefusedNextCabinetFailsTheCallInProgress) {
    for (bool throwing : {false, true}) {
        SCOPED_TRACE(throwing ? "exception" : "abort flag");
        abortNextCab = !throwing;
        throwFromNextCab = throwing;
        std::string name = throwing ? "thrown.cab" : "aborted.cab";
        auto context = create(name, 40000);
        ASSERT_TRUE(context);
        bool allAdded = true;
        for (int i = 0; i < 4 && allAdded; ++i) {
            allAdded =
                CabAddFile(*context, scratch.write("f" + std::to_string(i), randomBytes(30000, i)),
                           "f" + std::to_string(i), false, ctNone, 15);
        }
        bool failed = !allAdded || !CabFlush(*context, false);
        EXPECT_TRUE(failed);
        EXPECT_EQ(CabLastError().erfOper, throwing ? 0 : FCIERR_USER_ABORT);
        CabDestroy(*context);
    }
}

TEST_F(BindingTest, StatusReportsOtherThanBlocksNeverReachProgress) {
    CompContext context;
    context.ProgressProc = recordProgress;
    context.FileName = "/some/file";
    context.FileSize = 5LL * 1024 * 1024 * 1024; // past 32 bits: no overflow, no wrap
    context.BytesDone = 4LL * 1024 * 1024 * 1024;
    EXPECT_EQ(fciStatus(statusFolder, 10, 20, &context), 0);
    EXPECT_EQ(fciStatus(statusCabinet, 10, 20, &context), 0);
    EXPECT_TRUE(progressReports.empty());
    EXPECT_EQ(fciStatus(statusFile, 100, 1024u * 1024 * 1024, &context), 0);
    ASSERT_EQ(progressReports.size(), 1u);
    EXPECT_EQ(progressReports[0].percent, 100);

    context.FileSize = 0;
    context.BytesDone = 0;
    EXPECT_EQ(fciStatus(statusFile, 0, 0, &context), 0);
    EXPECT_EQ(progressReports.back().percent, 100)
        << "an empty file is done, not a division by zero";
    abortProgress = true;
    EXPECT_EQ(fciStatus(statusFile, 1, 1, &context), -1);
    EXPECT_EQ(fciFlushStatus(statusFile, 1, 1, &context), 0);
}

TEST_F(BindingTest, TempNamesAreUniqueWithPrefixAndFitTheBuffer) {
    char name[1024];
    CompContext context;
    ASSERT_TRUE(fciGetTempFile(name, sizeof name, &context));
    std::string first = name;
    EXPECT_EQ(first.rfind(tempFolder + "kFw", 0), 0u) << first;
    EXPECT_FALSE(std::filesystem::exists(first)) << "the reserving file is removed again";
    ASSERT_TRUE(fciGetTempFile(name, sizeof name, &context));
    EXPECT_NE(first, name);

    char tiny[8] = "keep";
    EXPECT_FALSE(fciGetTempFile(tiny, sizeof tiny, &context));
    EXPECT_STREQ(tiny, "keep");

    injectFault({FileOperation::TempName, "", kErrorDiskFull, 0, 1});
    EXPECT_FALSE(fciGetTempFile(name, sizeof name, &context));
}

TEST_F(BindingTest, OpenFlagsAndTransferFailuresReachTheService) {
    std::string existing = scratch.write("exists", "abc");
    CompContext context;
    int err = -5;
    EXPECT_EQ(fciOpen(existing.data(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                      _S_IREAD | _S_IWRITE, &err, &context),
              -1);
    EXPECT_EQ(err, static_cast<int>(kErrorFileExists)) << "a create never replaces a file";
    EXPECT_EQ(readFileBytes(existing), "abc");

    INT_PTR handle = fciOpen(existing.data(), _O_RDWR | _O_BINARY, 0, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(err, 0);
    char buffer[4] = {};
    EXPECT_EQ(fciSeek(handle, 1, 0, &err, &context), 1);
    EXPECT_EQ(fciRead(handle, buffer, 4, &err, &context), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    EXPECT_EQ(fciSeek(handle, 0, 7, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorInvalidParameter));
    EXPECT_EQ(fciWrite(handle, const_cast<char*>("Z"), 1, &err, &context), 1u);

    injectFault({FileOperation::Read, "exists", kErrorReadFault, 0, 1});
    EXPECT_EQ(fciRead(handle, buffer, 4, &err, &context), static_cast<UINT>(-1));
    EXPECT_EQ(err, static_cast<int>(kErrorReadFault));
    injectFault({FileOperation::Write, "exists", kErrorDiskFull, 0, 1});
    EXPECT_EQ(fciWrite(handle, buffer, 4, &err, &context), static_cast<UINT>(-1));
    EXPECT_EQ(err, static_cast<int>(kErrorDiskFull));
    EXPECT_EQ(fciClose(handle, &err, &context), 0);
    EXPECT_EQ(fciClose(handle, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorInvalidHandle));

    EXPECT_EQ(fciDelete(existing.data(), &err, &context), 0);
    EXPECT_EQ(fciDelete(existing.data(), &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorFileNotFound));
    EXPECT_EQ(fciAlloc(0), nullptr);
}

TEST_F(BindingTest, OpenInfoGivesLocalDosTimeMaskedAttributesAndFollowsTheFile) {
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
    INT_PTR handle = fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (3 << 5) | 15);
    EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);
    EXPECT_EQ(attributes, _A_RDONLY | _A_HIDDEN | _A_ARCH);
    EXPECT_EQ(context.FileName, file);
    EXPECT_EQ(context.FileSize, 5);
    EXPECT_EQ(context.BytesDone, 0);
    fciClose(handle, &err, &context);

    struct timespec ancient[2] = {{0, 0}, {0, 0}}; // 1970 cannot be a DOS date
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), ancient, 0), 0);
    handle = fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, (1 << 5) | 1) << "the earliest DOS date, not garbage";
    EXPECT_EQ(time, 0);
    fciClose(handle, &err, &context);

    struct timespec future[2] = {{7258118400, 0}, {7258118400, 0}}; // 2200
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), future, 0), 0);
    handle = fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31) << "the latest DOS date";
    fciClose(handle, &err, &context);
    ::unsetenv("TZ");
    ::tzset();
}

TEST_F(BindingTest, OpenInfoFailuresReportTheSystemCode) {
    std::string file = scratch.write("f", "x");
    CompContext context;
    USHORT date, time, attributes;
    int err = 0;
    injectFault({FileOperation::Open, "f", kErrorSharingViolation, 0, 1});
    EXPECT_EQ(fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorSharingViolation));

    injectFault({FileOperation::Information, "f", kErrorAccessDenied, 0, 1});
    EXPECT_EQ(fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context), -1);
    EXPECT_EQ(err, static_cast<int>(kErrorAccessDenied));

    injectFault({FileOperation::Attributes, "f", kErrorAccessDenied, 0, 1});
    INT_PTR handle = fciGetOpenInfo(file.data(), &date, &time, &attributes, &err, &context);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(attributes, 0) << "attributes that cannot be read are 0";
    fciClose(handle, &err, &context);
}

} // namespace
