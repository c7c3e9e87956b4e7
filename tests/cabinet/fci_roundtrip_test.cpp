// Single cabinets written through the interface and read back by libmspack,
// cabextract and 7-Zip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cab_header.h"
#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

class RoundTrip : public ::testing::TestWithParam<TCOMP> {
protected:
    FciClient client{scratchFor("fci")};
    Expected expected;

    // Writes a source file and adds it under `stored`.
    void add(HFCI h, const std::string& stored, const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(client.addBytes(h, stored, bytes, GetParam(), expected))
            << stored << ": erfOper " << client.erf.erfOper;
    }

    void finish(HFCI h, const std::string& name) {
        ASSERT_TRUE(client.flushCabinet(h)) << "erfOper " << client.erf.erfOper;
        ASSERT_TRUE(FCIDestroy(h));
        EXPECT_EQ(checkWithAllDecoders(client.path(name), expected), "");
        client.expectNothingLeft();
    }
};

TEST_P(RoundTrip, SizesAroundTheBlockBoundary) {
    CCAB ccab = client.cabinet("sizes.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "empty.txt", {});
    add(h, "one.bin", {0x42});
    add(h, "block.bin", randomBytes(32768, 1));
    add(h, "block-plus-one.txt", textBytes(32769, 2));
    add(h, "second-empty.txt", {});
    add(h, "random.bin", randomBytes(100000, 3));
    add(h, "text.txt", textBytes(300000, 4));
    add(h, "zeros.bin", std::vector<std::uint8_t>(250000, 0));
    finish(h, "sizes.cab");
    // Each statusFile report is one block; together they cover every byte.
    std::uint64_t reported = 0;
    for (const auto& s : client.statuses) {
        if (s.type == statusFile) {
            EXPECT_LE(s.cb2, 32768u);
            reported += s.cb2;
        }
    }
    EXPECT_EQ(reported, 1u + 32768 + 32769 + 100000 + 300000 + 250000);
}

TEST_P(RoundTrip, ManySmallFilesInSeveralFoldersByThreshold) {
    CCAB ccab = client.cabinet("many.cab", 0x7FFFFFFF, 20000);
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 600; ++i) {
        add(h, "dir\\sub" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".txt",
            textBytes(std::size_t(i * 37 % 3000), std::uint32_t(i)));
    }
    finish(h, "many.cab");
    CabHeader header = readHeader(client.path("many.cab"));
    EXPECT_EQ(header.files, 600u);
    EXPECT_GT(header.folders, 3u) << "a threshold of 20000 bytes must close folders";
    EXPECT_EQ(header.cabinetSize, header.fileSize);
}

TEST_P(RoundTrip, ReserveAreasAreSkippedByReaders) {
    CCAB ccab = client.cabinet("reserve.cab", 0x7FFFFFFF, 50000);
    ccab.cbReserveCFHeader = 6144;
    ccab.cbReserveCFFolder = 255;
    ccab.cbReserveCFData = 13;
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "a.txt", textBytes(120000, 5));
    add(h, "b.bin", randomBytes(70000, 6));
    finish(h, "reserve.cab");
    EXPECT_EQ(readHeader(client.path("reserve.cab")).flags & kp::cab::kFlagReservePresent,
              kp::cab::kFlagReservePresent);
}

TEST_P(RoundTrip, FlushFolderAndAChangeOfTypeStartNewFolders) {
    CCAB ccab = client.cabinet("folders.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "one.txt", textBytes(5000, 1));
    ASSERT_TRUE(client.flushFolder(h));
    add(h, "two.txt", textBytes(5000, 2));
    auto other = GetParam() == tcompTYPE_NONE ? TCOMP(tcompTYPE_MSZIP) : TCOMP(tcompTYPE_NONE);
    auto src = client.writeFile("src/three", textBytes(7000, 3));
    ASSERT_TRUE(client.add(h, src, "three.txt", other));
    expected.emplace_back("three.txt", textBytes(7000, 3));
    finish(h, "folders.cab");
    EXPECT_EQ(readHeader(client.path("folders.cab")).folders, 3u);
}

TEST_P(RoundTrip, MetadataAndNamesSurvive) {
    CCAB ccab = client.cabinet("meta.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    auto src = client.writeFile("src/ro", textBytes(100, 1));
    ::chmod(src.c_str(), 0444);
    struct stat st {};
    ::stat(src.c_str(), &st);
    ASSERT_TRUE(client.add(h, src, "read-only.txt", GetParam()));
    expected.emplace_back("read-only.txt", textBytes(100, 1));
    auto exe = client.writeFile("src/exe", textBytes(10, 2));
    ASSERT_TRUE(client.add(h, exe, "run.exe", GetParam(), true));
    expected.emplace_back("run.exe", textBytes(10, 2));
    add(h, "caf\xc3\xa9\\\xc3\xbc.txt", textBytes(10, 3));
    finish(h, "meta.cab");

    std::vector<CabEntry> entries;
    std::string error;
    ASSERT_TRUE(readWithMspack(client.path("meta.cab"), entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    EXPECT_EQ(entries[0].year, local.tm_year + 1900);
    EXPECT_EQ(entries[0].month, local.tm_mon + 1);
    EXPECT_EQ(entries[0].day, local.tm_mday);
    EXPECT_EQ(entries[0].hour, local.tm_hour);
    EXPECT_EQ(entries[0].minute, local.tm_min);
    EXPECT_EQ(entries[0].second, local.tm_sec / 2 * 2);
    EXPECT_EQ(entries[0].attribs & 0xFF, _A_RDONLY | _A_ARCH);
    EXPECT_EQ(entries[1].attribs & 0xFF, _A_EXEC | _A_ARCH);
    EXPECT_EQ(entries[2].attribs & _A_NAME_IS_UTF, _A_NAME_IS_UTF);
    EXPECT_EQ(entries[0].attribs & _A_NAME_IS_UTF, 0);
}

TEST_P(RoundTrip, FolderOfEmptyFilesOnly) {
    CCAB ccab = client.cabinet("empties.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "a", {});
    add(h, "b", {});
    finish(h, "empties.cab");
}

// The service's temporary files hold one copy of the cabinet's data at most, in one
// folder or many, beside the cabinet itself.
TEST_P(RoundTrip, TemporaryFilesHoldOneCopyOfTheData) {
    for (ULONG threshold : {ULONG(0x7FFFFFFF), ULONG(300000)}) {
        FciClient local(scratchFor("fci-temp"));
        Expected added;
        CCAB ccab = local.cabinet("temp.cab", 0x7FFFFFFF, threshold);
        HFCI h = local.create(ccab);
        ASSERT_NE(h, nullptr);
        for (std::uint32_t i = 0; i < 6; ++i) {
            ASSERT_TRUE(local.addBytes(h, "random" + std::to_string(i), randomBytes(700000, i),
                                       GetParam(), added));
            ASSERT_TRUE(local.addBytes(h, "text" + std::to_string(i), textBytes(200000, i),
                                       GetParam(), added));
        }
        ASSERT_TRUE(local.flushCabinet(h));
        ASSERT_TRUE(FCIDestroy(h));
        EXPECT_EQ(checkWithAllDecoders(local.path("temp.cab"), added), "");
        std::uint64_t cabinet = fs::file_size(local.path("temp.cab"));
        CabHeader header = readHeader(local.path("temp.cab"));
        EXPECT_GT(header.folders, threshold == 0x7FFFFFFF ? 0u : 5u);
        EXPECT_LE(local.peakTempBytes, cabinet + 65536)
            << "threshold " << threshold << ", cabinet " << cabinet;
        local.expectNothingLeft();
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip,
                         ::testing::Values(TCOMP(tcompTYPE_NONE), TCOMP(tcompTYPE_MSZIP)),
                         [](const auto& info) {
                             return info.param == tcompTYPE_NONE ? std::string("none")
                                                                 : std::string("mszip");
                         });

TEST(EmptyCabinet, FlushWithoutFilesWritesAHeaderOnlyCabinet) {
    FciClient client(fs::temp_directory_path() / ("kp-fci-empty-" + std::to_string(::getpid())));
    CCAB ccab = client.cabinet("empty.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    ASSERT_TRUE(client.flushCabinet(h));
    ASSERT_TRUE(FCIDestroy(h));
    CabHeader header = readHeader(client.path("empty.cab"));
    EXPECT_EQ(header.fileSize, 36u);
    EXPECT_EQ(header.cabinetSize, 36u);
    EXPECT_EQ(header.folders, 0u);
    EXPECT_EQ(header.files, 0u);
    std::string output;
    EXPECT_EQ(runCommand("7zz l '" + client.path("empty.cab").string() + "'", output), 0) << output;
}

} // namespace
