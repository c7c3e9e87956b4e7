// Every failure a callback can provoke: the error record, what is left on disk,
// and whether the context can go on.
#include <stdexcept>

#include <gtest/gtest.h>

#include "cab_header.h"
#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

class Failure : public ::testing::Test {
protected:
    FciClient client{scratchFor("fail")};
    CCAB ccab = client.cabinet("out.cab");
    HFCI h = nullptr;

    void SetUp() override {
        h = client.create(ccab);
        ASSERT_NE(h, nullptr);
    }

    std::string source(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return client.writeFile("src/" + name, bytes).string();
    }

    void expectError(int oper, int type) {
        EXPECT_EQ(client.erf.erfOper, oper);
        EXPECT_EQ(client.erf.erfType, type);
        EXPECT_TRUE(client.erf.fError);
    }

    // Destroys the context and checks that it left no handle, memory or temporary file.
    void destroyAndCheckClean() {
        ASSERT_TRUE(FCIDestroy(h));
        h = nullptr;
        client.expectNothingLeft();
    }
};

TEST_F(Failure, UnopenableAndUnreadableSourcesAreReportedAndTheContextGoesOn) {
    auto good1 = textBytes(50000, 1);
    auto good2 = textBytes(70000, 2);
    ASSERT_TRUE(client.add(h, source("good1", good1), "good1.txt", tcompTYPE_MSZIP));

    client.failOpenOf = "locked";
    EXPECT_FALSE(client.add(h, source("locked", good1), "locked.txt", tcompTYPE_MSZIP));
    expectError(FCIERR_OPEN_SRC, 5);

    // Fails after part of the file went into the folder's stream.
    client.failSourceReadAfter = 65536 + 100;
    EXPECT_FALSE(
        client.add(h, source("broken", randomBytes(200000, 3)), "broken.bin", tcompTYPE_MSZIP));
    expectError(FCIERR_READ_SRC, 5);
    client.failSourceReadAfter = -1;

    ASSERT_TRUE(client.add(h, source("good2", good2), "good2.txt", tcompTYPE_MSZIP));
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(
        checkWithAllDecoders(client.path("out.cab"), {{"good1.txt", good1}, {"good2.txt", good2}}),
        "");
}

TEST_F(Failure, CabinetWriteFailureDeletesTheCabinetAndTheFlushCanBeRetried) {
    auto data = textBytes(100000, 4);
    ASSERT_TRUE(client.add(h, source("a", data), "a.txt", tcompTYPE_MSZIP));
    int handlesBefore = client.openHandles();
    client.failCabinetWriteAfter = 1000;
    EXPECT_FALSE(client.flushCabinet(h));
    expectError(FCIERR_CAB_FILE, 28);
    EXPECT_FALSE(fs::exists(client.path("out.cab"))) << "a half-written cabinet must not stay";
    EXPECT_EQ(client.openHandles(), handlesBefore) << "the cabinet's handle is closed";

    client.failCabinetWriteAfter = -1;
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(checkWithAllDecoders(client.path("out.cab"), {{"a.txt", data}}), "");
}

TEST_F(Failure, StatusAbortFailsTheFileAndTheContextGoesOn) {
    client.abortAtStatus = 1;
    EXPECT_FALSE(client.add(h, source("big", textBytes(200000, 5)), "big.txt", tcompTYPE_MSZIP));
    expectError(FCIERR_USER_ABORT, 0);
    auto small = randomBytes(40000, 6);
    ASSERT_TRUE(client.add(h, source("small", small), "small.bin", tcompTYPE_MSZIP));
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(checkWithAllDecoders(client.path("out.cab"), {{"small.bin", small}}), "");
}

// On one thread the report, and so the exception, comes within the call that fed
// the frame; with workers it may come with the next call (see ThreadCount's tests).
TEST_F(Failure, ExceptionFromACallbackLeavesADestroyableContext) {
    ASSERT_TRUE(KPFCISetThreadCount(h, 1));
    client.onStatusFile = [] { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(client.add(h, source("big", textBytes(100000, 6)), "big.txt", tcompTYPE_MSZIP),
                 std::runtime_error);
    client.onStatusFile = nullptr;
    EXPECT_FALSE(client.add(h, source("small", textBytes(10, 7)), "small.txt", tcompTYPE_MSZIP));
    EXPECT_FALSE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_FALSE(fs::exists(client.path("out.cab")));
}

TEST_F(Failure, UnsupportedCompressionTypesAreRefused) {
    auto src = source("a", textBytes(100, 8));
    for (TCOMP bad : {TCOMP(tcompTYPE_QUANTUM), TCOMP(tcompBAD), TCOMP(TCOMPfromLZXWindow(14)),
                      TCOMP(TCOMPfromLZXWindow(22)), TCOMP(tcompTYPE_MSZIP | 0x8000)}) {
        client.erf = {};
        EXPECT_FALSE(client.add(h, src, "a.txt", bad)) << std::hex << bad;
        expectError(FCIERR_BAD_COMPR_TYPE, 0);
    }
    destroyAndCheckClean();
}

TEST_F(Failure, FormatLimitsAreRefusedBeforeAnythingIsWritten) {
    // Generated sources report their sizes without any byte being stored.
    client.generated["gen:huge"] = {0x7FFF8001ull, [](std::uint64_t, std::uint8_t* out,
                                                      std::size_t n) { std::fill_n(out, n, 0); }};
    EXPECT_FALSE(client.add(h, "gen:huge", "huge.bin", tcompTYPE_NONE));
    expectError(FCIERR_CAB_FORMAT_LIMIT, 0);

    auto src = source("a", textBytes(10, 9));
    EXPECT_FALSE(client.add(h, src, std::string(256, 'n'), tcompTYPE_NONE));
    expectError(FCIERR_CAB_FORMAT_LIMIT, 0);
    EXPECT_TRUE(client.add(h, src, std::string(255, 'n'), tcompTYPE_NONE));
    EXPECT_FALSE(client.add(h, src, "", tcompTYPE_NONE));
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(readHeader(client.path("out.cab")).files, 1u);
}

TEST_F(Failure, AFileThatWouldOverfillTheFolderStartsANewOne) {
    auto src = source("a", textBytes(10, 10));
    ASSERT_TRUE(client.add(h, src, "a.txt", tcompTYPE_NONE));
    // Exactly the largest file a folder can hold: it cannot join "a.txt". Reading
    // stops early so that the test does not move two gigabytes.
    client.generated["gen:full"] = {0x7FFF8000ull, [](std::uint64_t, std::uint8_t* out,
                                                      std::size_t n) { std::fill_n(out, n, 1); }};
    client.failSourceReadAfter = 0;
    EXPECT_FALSE(client.add(h, "gen:full", "full.bin", tcompTYPE_NONE));
    expectError(FCIERR_READ_SRC, 5);
    client.failSourceReadAfter = -1;
    ASSERT_TRUE(client.add(h, src, "b.txt", tcompTYPE_NONE));
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(readHeader(client.path("out.cab")).folders, 2u);
}

// Without a next cabinet to go on in, the cabinet's file count is the format's
// limit; a client that refuses the next cabinet is told so as for a full size.
// Either way the refused file leaves the context usable and the cabinet complete.
TEST_F(Failure, MoreThan65535FilesInOneCabinetAreRefusedWhenNoNextCabinetIsTaken) {
    client.generated["gen:empty"] = {0, [](std::uint64_t, std::uint8_t*, std::size_t) {}};
    client.takesNoNextCabinet = true;
    for (int i = 0; i < 65535; ++i) {
        ASSERT_TRUE(client.add(h, "gen:empty", "e" + std::to_string(i), tcompTYPE_NONE)) << i;
    }
    EXPECT_FALSE(client.add(h, "gen:empty", "one-too-many", tcompTYPE_NONE));
    expectError(FCIERR_CAB_FORMAT_LIMIT, 0);
    client.takesNoNextCabinet = false;
    client.refuseNextCabinetAt = 2;
    EXPECT_FALSE(client.add(h, "gen:empty", "one-too-many", tcompTYPE_NONE));
    expectError(FCIERR_USER_ABORT, 0);
    ASSERT_TRUE(client.flushCabinet(h));
    destroyAndCheckClean();
    EXPECT_EQ(readHeader(client.path("out.cab")).files, 65535u);
    EXPECT_FALSE(fs::exists(client.path("set2.cab")));
}

TEST(FailureAtCreate, TemporaryFileFailureLeavesNothing) {
    for (int failing = 0; failing < 3; ++failing) {
        FciClient client(fs::temp_directory_path() / ("kp-failtemp-" + std::to_string(::getpid())));
        client.failTempFileAt = failing;
        CCAB ccab = client.cabinet("out.cab");
        EXPECT_EQ(client.create(ccab), nullptr);
        EXPECT_EQ(client.erf.erfOper, FCIERR_TEMP_FILE);
        EXPECT_EQ(client.openHandles(), 0);
        EXPECT_EQ(FciClient::liveAllocations(), 0);
        for (const auto& t : client.tempFilesGiven) {
            EXPECT_FALSE(fs::exists(t)) << t;
        }
    }
}

} // namespace
