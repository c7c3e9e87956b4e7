// Each failure the service can report through the binding, provoked through the
// platform's fault seam, with the record the builder will turn into its error event.
#include "EngineFixture.h"
#include "engine/CabBinding.h"
#include "platform/LastError.h"

using namespace kp::platform;

namespace kp::test {

namespace {

void ignoreProgress(const std::string&, int, bool&) {}
void keepNames(std::string&, std::string&, int, int&, bool&) {}

class CabBindingFailuresTest : public EngineFixture {
protected:
    std::unique_ptr<CabContext> create() {
        return CabCreate(scratch.path("out.cab"), "", 831415, 0x7FFFFFFF, 1, 0, ignoreProgress,
                         keepNames);
    }
    void expectError(int oper, int type) {
        ERF error = CabLastError();
        EXPECT_EQ(error.erfOper, oper);
        EXPECT_EQ(error.erfType, type);
        EXPECT_TRUE(error.fError);
    }
};

TEST_F(CabBindingFailuresTest, UnopenableOrUnreadableSourceLeavesTheContextUsable) {
    std::string locked = scratch.write("in/locked.txt", "locked");
    std::string broken = scratch.write("in/broken.bin", randomBytes(70000, 5));
    std::string good = scratch.write("in/good.txt", "good");
    auto context = create();
    ASSERT_TRUE(context);

    injectFault({FileOperation::Open, "locked", kErrorSharingViolation, 0, -1});
    EXPECT_FALSE(CabAddFile(*context, locked, "locked.txt", false, ctMsZip, 15));
    expectError(FCIERR_OPEN_SRC, kErrorSharingViolation);

    injectFault({FileOperation::Read, "broken", kErrorReadFault, 1, -1});
    EXPECT_FALSE(CabAddFile(*context, broken, "broken.bin", false, ctMsZip, 15));
    expectError(FCIERR_READ_SRC, kErrorReadFault);

    ASSERT_TRUE(CabAddFile(*context, good, "good.txt", false, ctMsZip, 15));
    ASSERT_TRUE(CabFlush(*context, false));
    CabDestroy(*context);
    auto files = readCabinet(scratch.path("out.cab"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, "good.txt");
    EXPECT_EQ(files[0].data, "good");
}

TEST_F(CabBindingFailuresTest, ExhaustedMemoryIsReportedAsSuch) {
    std::string source = scratch.write("a.txt", "a");
    auto context = create();
    ASSERT_TRUE(context);
    injectFault({FileOperation::Allocate, "", kErrorNotEnoughMemory, 0, -1});
    EXPECT_FALSE(CabAddFile(*context, source, "a.txt", false, ctMsZip, 15));
    expectError(FCIERR_ALLOC_FAIL, 0);
    EXPECT_EQ(CabErrorText(CabLastError()), "Out of memory during compression");
    clearFaults();
    CabDestroy(*context);

    injectFault({FileOperation::Allocate, "", kErrorNotEnoughMemory, 0, -1});
    EXPECT_FALSE(create());
    expectError(FCIERR_ALLOC_FAIL, 0);
}

TEST_F(CabBindingFailuresTest, TemporaryFilesThatCannotBeMadeFailCreation) {
    injectFault({FileOperation::TempName, "", kErrorDiskFull, 0, 1});
    EXPECT_FALSE(create());
    EXPECT_EQ(CabLastError().erfOper, FCIERR_TEMP_FILE);

    injectFault({FileOperation::Open, "kFw", kErrorDiskFull, 1, 1});
    EXPECT_FALSE(create());
    expectError(FCIERR_TEMP_FILE, kErrorDiskFull);
}

TEST_F(CabBindingFailuresTest, QuantumIsAnUnknownCompressionType) {
    std::string source = scratch.write("a.txt", "a");
    auto context = create();
    ASSERT_TRUE(context);
    EXPECT_FALSE(CabAddFile(*context, source, "a.txt", false, ctQuantum, 21));
    expectError(FCIERR_BAD_COMPR_TYPE, 0);
    CabDestroy(*context);
}

TEST_F(CabBindingFailuresTest, CabinetThatCannotBeWrittenFailsTheFlushAndLeavesNothing) {
    std::string source = scratch.write("a.txt", randomBytes(50000, 6));
    for (FileOperation operation : {FileOperation::Open, FileOperation::Write}) {
        SCOPED_TRACE(operation == FileOperation::Open ? "open" : "write");
        auto context = create();
        ASSERT_TRUE(context);
        ASSERT_TRUE(CabAddFile(*context, source, "a.txt", false, ctMsZip, 15));
        injectFault({operation, "out.cab", kErrorAccessDenied, 0, -1});
        EXPECT_FALSE(CabFlush(*context, false));
        expectError(FCIERR_CAB_FILE, kErrorAccessDenied);
        clearFaults();
        CabDestroy(*context);
        EXPECT_FALSE(std::filesystem::exists(scratch.path("out.cab")));
    }
}

TEST_F(CabBindingFailuresTest, ExistingCabinetIsNeverOverwritten) {
    std::string source = scratch.write("a.txt", "a");
    scratch.write("out.cab", "precious");
    auto context = create();
    ASSERT_TRUE(context);
    ASSERT_TRUE(CabAddFile(*context, source, "a.txt", false, ctMsZip, 15));
    EXPECT_FALSE(CabFlush(*context, false));
    expectError(FCIERR_CAB_FILE, kErrorFileExists);
    CabDestroy(*context);
    EXPECT_EQ(readFileBytes(scratch.path("out.cab")), "precious");
}

TEST_F(CabBindingFailuresTest, StoredNameBeyondTheFormatLimitHasAClearText) {
    std::string source = scratch.write("a.txt", "a");
    auto context = create();
    ASSERT_TRUE(context);
    EXPECT_FALSE(CabAddFile(*context, source, std::string(256, 'n'), false, ctMsZip, 15));
    expectError(FCIERR_CAB_FORMAT_LIMIT, 0);
    EXPECT_NE(CabErrorText(CabLastError()), "Unknown error!");
    CabDestroy(*context);
}

} // namespace

} // namespace kp::test
