// Cabinet sets: files and folders spanning cabinets, read back as one set.
#include <gtest/gtest.h>

#include "cab_header.h"
#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

class CabinetSet : public ::testing::TestWithParam<TCOMP> {
protected:
    FciClient client{scratchFor("set")};
    Expected expected;

    void add(HFCI h, const std::string& stored, const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(client.addBytes(h, stored, bytes, GetParam(), expected))
            << stored << ": erfOper " << client.erf.erfOper;
    }

    // Every cabinet of the set, in order, by following the names asked for.
    std::vector<fs::path> cabinets(const std::string& first) {
        std::vector<fs::path> all{client.path(first)};
        for (const auto& name : client.cabinetsAskedFor) {
            all.push_back(client.path(name));
        }
        return all;
    }
};

TEST_P(CabinetSet, FilesSpanCabinetsAndEveryReaderJoinsThem) {
    const ULONG limit = 40000;
    CCAB ccab = client.cabinet("set1.cab", limit, 0x7FFFFFFF);
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "small-1.txt", textBytes(3000, 1));
    add(h, "big\\random.bin", randomBytes(150000, 2)); // spans several cabinets alone
    add(h, "small-2.txt", textBytes(5000, 3));
    add(h, "empty.txt", {});
    add(h, "text.txt", textBytes(400000, 4));
    for (int i = 0; i < 40; ++i) {
        add(h, "tiny\\" + std::to_string(i), randomBytes(std::size_t(900 + i), std::uint32_t(i)));
    }
    ASSERT_TRUE(client.flushCabinet(h)) << client.erf.erfOper;
    ASSERT_TRUE(FCIDestroy(h));

    auto all = cabinets("set1.cab");
    ASSERT_GE(all.size(), 4u) << "150000 random bytes cannot fit in fewer cabinets";
    for (std::size_t i = 0; i < all.size(); ++i) {
        CabHeader header = readHeader(all[i]);
        EXPECT_LE(header.fileSize, limit) << all[i];
        EXPECT_EQ(header.cabinetSize, header.fileSize) << all[i];
        EXPECT_EQ(header.setIndex, i);
        EXPECT_EQ(header.flags & 3u, (i > 0 ? 1u : 0u) | (i + 1 < all.size() ? 2u : 0u))
            << "previous/next links of " << all[i];
    }
    EXPECT_EQ(checkWithAllDecoders(all[0], expected), "");
    EXPECT_EQ(client.openHandles(), 0);
    EXPECT_EQ(FciClient::liveAllocations(), 0);
}

TEST_P(CabinetSet, FlushWithNextCabinetStartsTheNextOneAtOnce) {
    CCAB ccab = client.cabinet("set1.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    add(h, "first.txt", textBytes(10000, 1));
    ASSERT_TRUE(client.flushCabinet(h, true));
    ASSERT_EQ(client.cabinetsAskedFor, std::vector<std::string>{"set2.cab"});
    add(h, "second.txt", textBytes(10000, 2));
    ASSERT_TRUE(client.flushCabinet(h));
    ASSERT_TRUE(FCIDestroy(h));
    EXPECT_EQ(readHeader(client.path("set1.cab")).files, 1u);
    EXPECT_EQ(readHeader(client.path("set2.cab")).files, 1u);
    EXPECT_EQ(checkWithAllDecoders(client.path("set1.cab"), expected), "");
}

TEST_P(CabinetSet, RefusedNextCabinetFailsTheCallInProgress) {
    CCAB ccab = client.cabinet("set1.cab", 30000, 0x7FFFFFFF);
    client.refuseNextCabinetAt = 3;
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    auto src = client.writeFile("src/big", randomBytes(200000, 9));
    bool added = client.add(h, src, "big.bin", GetParam());
    bool flushed = added && client.flushCabinet(h);
    EXPECT_FALSE(flushed);
    EXPECT_EQ(client.erf.erfOper, FCIERR_USER_ABORT);
    EXPECT_TRUE(client.erf.fError);
    ASSERT_TRUE(FCIDestroy(h));
    EXPECT_EQ(client.openHandles(), 0);
    EXPECT_FALSE(fs::exists(client.path("set3.cab")));
}

// A cabinet lists at most 65,535 files: one more goes on in the next cabinet of
// the set, however large the cabinet size, and no file is lost or listed twice.
TEST_P(CabinetSet, FilesBeyondTheFormatsCountGoOnInTheNextCabinet) {
    const int files = 65535 + 1200;
    for (int b = 0; b < 256; ++b) {
        auto byte = std::uint8_t(b);
        client.generated["gen:" + std::to_string(b)] = {
            1, [byte](std::uint64_t, std::uint8_t* out, std::size_t) { *out = byte; }};
    }
    client.generated["gen:empty"] = {0, [](std::uint64_t, std::uint8_t*, std::size_t) {}};
    CCAB ccab = client.cabinet("set1.cab");
    HFCI h = client.create(ccab);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < files; ++i) {
        std::string stored = "d" + std::to_string(i % 7) + "\\f" + std::to_string(i);
        if (i % 9000 == 4500) {
            add(h, stored, textBytes(std::size_t(20000 + i), std::uint32_t(i))); // spans frames
        } else if (i % 3 == 0) {
            ASSERT_TRUE(client.add(h, "gen:empty", stored, GetParam())) << i;
            expected.emplace_back(stored, std::vector<std::uint8_t>{});
        } else {
            ASSERT_TRUE(client.add(h, "gen:" + std::to_string(i % 256), stored, GetParam()))
                << i << ": erfOper " << client.erf.erfOper;
            expected.emplace_back(stored, std::vector<std::uint8_t>{std::uint8_t(i % 256)});
        }
        if (i % 7000 == 6999) {
            ASSERT_TRUE(client.flushFolder(h));
        }
    }
    ASSERT_TRUE(client.flushCabinet(h)) << client.erf.erfOper;
    ASSERT_TRUE(FCIDestroy(h));

    auto all = cabinets("set1.cab");
    ASSERT_EQ(all.size(), 2u);
    std::uint32_t listed = 0;
    for (const auto& cab : all) {
        CabHeader header = readHeader(cab);
        EXPECT_LE(header.files, 65535u) << cab;
        EXPECT_EQ(header.cabinetSize, header.fileSize) << cab;
        listed += header.files;
    }
    EXPECT_EQ(readHeader(all[0]).files, 65535u) << "the first cabinet is filled to the count";
    EXPECT_EQ(listed, std::uint32_t(files)) << "no folder splits here, so no file is listed twice";
    EXPECT_EQ(checkWithAllDecoders(all[0], expected), "");
    EXPECT_EQ(client.openHandles(), 0);
    EXPECT_EQ(FciClient::liveAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, CabinetSet,
                         ::testing::Values(TCOMP(tcompTYPE_NONE), TCOMP(tcompTYPE_MSZIP)),
                         [](const auto& info) {
                             return info.param == tcompTYPE_NONE ? std::string("none")
                                                                 : std::string("mszip");
                         });

} // namespace
