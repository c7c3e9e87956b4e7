// Many generated cabinets and sets: random sizes, limits, thresholds, reserves and
// methods, each read back by libmspack.
#include <random>

#include <gtest/gtest.h>

#include "cab_header.h"
#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

TEST(RandomCabinets, EveryGeneratedCabinetOrSetReadsBack) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FciClient client(fs::temp_directory_path() /
                         ("kp-random-" + std::to_string(::getpid()) + "-" + std::to_string(round)));
        bool set = pick(0, 2) > 0;
        ULONG cb = set ? ULONG(pick(9000, 120000)) : 0x7FFFFFFF;
        ULONG threshold = ULONG(pick(0, 1) ? pick(1, 200000) : 0x7FFFFFFF);
        CCAB ccab = client.cabinet("set1.cab", cb, threshold);
        if (pick(0, 3) == 0) {
            ccab.cbReserveCFHeader = UINT(pick(0, 300));
            ccab.cbReserveCFFolder = UINT(pick(0, 255));
            ccab.cbReserveCFData = UINT(pick(0, 255));
        }
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        Expected expected;
        int files = pick(1, 25);
        for (int i = 0; i < files; ++i) {
            std::size_t size = std::size_t(pick(0, 3) == 0 ? pick(0, 10) : pick(0, 90000));
            auto bytes = pick(0, 1) ? randomBytes(size, std::uint32_t(round * 100 + i))
                                    : textBytes(size, std::uint32_t(round * 100 + i));
            std::string stored = "r" + std::to_string(round) + "\\f" + std::to_string(i);
            auto src = client.writeFile("src/" + std::to_string(i), bytes);
            TCOMP comp = pick(0, 2) ? TCOMP(tcompTYPE_MSZIP) : TCOMP(tcompTYPE_NONE);
            ASSERT_TRUE(client.add(h, src, stored, comp)) << client.erf.erfOper;
            expected.emplace_back(stored, bytes);
            if (pick(0, 9) == 0) {
                ASSERT_TRUE(client.flushFolder(h));
            }
        }
        ASSERT_TRUE(client.flushCabinet(h)) << client.erf.erfOper;
        ASSERT_TRUE(FCIDestroy(h));
        std::vector<CabEntry> entries;
        std::string error;
        ASSERT_TRUE(readWithMspack(client.path("set1.cab"), entries, error)) << error;
        ASSERT_EQ(entries.size(), expected.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, expected[i].first);
            EXPECT_TRUE(entries[i].data == expected[i].second) << expected[i].first;
        }
        std::vector<fs::path> all{client.path("set1.cab")};
        for (const auto& name : client.cabinetsAskedFor) {
            all.push_back(client.path(name));
        }
        for (const auto& cab : all) {
            EXPECT_LE(readHeader(cab).fileSize, cb) << cab;
        }
        EXPECT_EQ(client.openHandles(), 0);
        EXPECT_EQ(FciClient::liveAllocations(), 0);
    }
}

} // namespace
