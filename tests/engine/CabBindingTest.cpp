// The binding's four operations over the cabinet service, with the builder's relays
// standing in for their two procedures.
#include "engine/CabBinding.h"
#include "EngineFixture.h"
#include "ProgressRecorder.h"
#include "cab_format.h"
#include "platform/CurrentDirectory.h"
#include "platform/LastError.h"

#include <limits>
#include <set>
#include <stdexcept>

using namespace kp::platform;

namespace kp::test {

namespace {

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

class CabBindingTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        progress = ProgressRecorder{};
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

// What each code reads as in a failing run is checked where the failure is provoked
// (kFwCABFailuresTest); here, that no code of the service is left without a text of
// its own, whatever else the record holds.
TEST(CabErrorTextTest, EveryServiceCodeHasATextOfItsOwn) {
    const std::string unknown = CabErrorText(ERF{-1, 0, TRUE});
    EXPECT_EQ(unknown, "Unknown error!");
    std::set<std::string> texts;
    for (int code = FCIERR_NONE; code <= FCIERR_CAB_FORMAT_LIMIT; ++code) {
        std::string text = CabErrorText(ERF{code, 0, TRUE});
        EXPECT_NE(text, unknown) << code;
        EXPECT_TRUE(texts.insert(text).second) << code << " shares its text: " << text;
        EXPECT_EQ(CabErrorText(ERF{code, 5, FALSE}), text) << "only erfOper counts";
    }
    for (int code : {FCIERR_CAB_FORMAT_LIMIT + 1, 255, std::numeric_limits<int>::min()}) {
        EXPECT_EQ(CabErrorText(ERF{code, 0, TRUE}), unknown) << code;
    }
}

TEST_F(CabBindingTest, WritesACabinetThatLibmspackReads) {
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
    std::string bytes = readFileBytes(scratch.path("out.cab"));
    EXPECT_EQ(cabinetU16(bytes, cab::cfheader::kSetId), 7u);
}

TEST_F(CabBindingTest, CabinetWithoutFolderPartGoesToTheCurrentFolder) {
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

TEST_F(CabBindingTest, OverlongCabinetNameIsRefusedAtCreation) {
    auto context = create(std::string(300, 'n') + ".cab");
    EXPECT_FALSE(context);
    ERF error = CabLastError();
    EXPECT_EQ(error.erfOper, FCIERR_CAB_FILE);
    EXPECT_EQ(error.erfType, static_cast<int>(kErrorFilenameTooLong));
    EXPECT_TRUE(error.fError);
}

TEST_F(CabBindingTest, ProgressFollowsTheFileAndItsAbortFailsTheAdd) {
    std::string big = scratch.write("big.bin", randomBytes(3 * 32768 + 100, 2));
    auto context = create("out.cab");
    ASSERT_TRUE(context);
    ASSERT_TRUE(CabAddFile(*context, big, "big.bin", false, ctMsZip, 15));
    ASSERT_EQ(progress.reports.size(), 3u) << "one report per full block";
    EXPECT_EQ(progress.reports[0].file, big);
    EXPECT_EQ(progress.reports[0].percent, 32768 * 100 / (3 * 32768 + 100));
    EXPECT_EQ(progress.reports[2].percent, 3 * 32768 * 100 / (3 * 32768 + 100));

    progress.reports.clear();
    ASSERT_TRUE(CabFlush(*context, false));
    EXPECT_TRUE(progress.reports.empty()) << "the flush reports nothing to ProgressProc";

    std::string second = scratch.write("second.bin", randomBytes(40000, 3));
    progress.abort = true;
    EXPECT_FALSE(CabAddFile(*context, second, "second.bin", false, ctMsZip, 15));
    EXPECT_EQ(CabLastError().erfOper, FCIERR_USER_ABORT);
    CabDestroy(*context);
}

TEST_F(CabBindingTest, ExceptionsFromHandlersFailTheCallWithNoError) {
    std::string big = scratch.write("big.bin", randomBytes(40000, 4));
    auto context = create("out.cab");
    ASSERT_TRUE(context);
    progress.throwing = true;
    EXPECT_FALSE(CabAddFile(*context, big, "big.bin", false, ctMsZip, 15));
    ERF error = CabLastError();
    EXPECT_EQ(error.erfOper, 0);
    EXPECT_EQ(error.erfType, 0);
    EXPECT_FALSE(error.fError);
    EXPECT_EQ(CabErrorText(error), "No error");
    EXPECT_TRUE(CabDestroy(*context));
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out.cab")));
}

TEST_F(CabBindingTest, NextCabinetIsNamedByTheRelayOrRefused) {
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

TEST_F(CabBindingTest, RefusedNextCabinetFailsTheCallInProgress) {
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

} // namespace

} // namespace kp::test
