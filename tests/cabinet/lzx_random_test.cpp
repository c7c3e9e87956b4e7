// Many LZX cabinets from generated inputs: sizes around the frame and window
// edges, content that changes its nature inside a file (so blocks split and
// some frames go uncompressed), matches far back. libmspack checks each one.
#include <gtest/gtest.h>
#include <unistd.h>

#include "cab_readers.h"
#include "fci_client.h"

namespace {
using namespace kp::test;
namespace fs = std::filesystem;

class Generator {
public:
    explicit Generator(std::uint32_t seed) : x_(seed * 0x9E3779B97F4A7C15ull + 7) {}

    std::uint32_t next() {
        x_ ^= x_ << 13;
        x_ ^= x_ >> 7;
        x_ ^= x_ << 17;
        return std::uint32_t(x_ >> 16);
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

    std::size_t size() {
        static const std::size_t edges[] = {0,     1,     2,     10,    11,    12,
                                            32767, 32768, 32769, 65535, 65536, 98305};
        return below(3) ? edges[below(12)] : below(200000);
    }

    std::vector<std::uint8_t> content(std::size_t n) {
        std::vector<std::uint8_t> v;
        v.reserve(n);
        while (v.size() < n) {
            std::size_t piece = std::min<std::size_t>(n - v.size(), 1 + below(40000));
            switch (below(6)) {
            case 0: {
                auto t = textBytes(piece, next());
                v.insert(v.end(), t.begin(), t.end());
                break;
            }
            case 1: {
                auto r = randomBytes(piece, next());
                v.insert(v.end(), r.begin(), r.end());
                break;
            }
            case 2:
                v.insert(v.end(), piece, std::uint8_t(next()));
                break;
            case 3: // calls with nearby targets, as in code
                for (std::size_t i = 0; i < piece; ++i) {
                    v.push_back(i % 7 == 0 ? 0xE8 : i % 7 == 5 ? 0 : std::uint8_t(below(8)));
                }
                break;
            case 4: // a copy of something earlier, near or far
                if (!v.empty()) {
                    std::size_t from = below(std::uint32_t(v.size()));
                    for (std::size_t i = 0; i < piece; ++i) {
                        v.push_back(v[from + i % (v.size() - from)]);
                    }
                    break;
                }
                [[fallthrough]];
            default: // a small alphabet
                for (std::size_t i = 0; i < piece; ++i) {
                    v.push_back(std::uint8_t('a' + below(4)));
                }
            }
        }
        return v;
    }

private:
    std::uint64_t x_;
};

TEST(LzxRandom, GeneratedCabinetsExtractWithLibmspack) {
    FciClient client(fs::temp_directory_path() / ("kp-lzx-random-" + std::to_string(::getpid())));
    Generator g(20261208);
    for (int round = 0; round < 60; ++round) {
        unsigned window = 15 + g.below(7);
        TCOMP comp = TCOMP(TCOMPfromLZXWindow(window));
        std::string name = "r" + std::to_string(round) + ".cab";
        CCAB ccab = client.cabinet(name);
        HFCI h = client.create(ccab);
        ASSERT_NE(h, nullptr);
        Expected expected;
        unsigned files = 1 + g.below(4);
        for (unsigned f = 0; f < files; ++f) {
            std::string stored = "f" + std::to_string(f);
            auto bytes = g.content(g.size());
            auto src = client.writeFile("src-" + stored, bytes);
            ASSERT_TRUE(client.add(h, src, stored, comp)) << name << " " << stored;
            expected.emplace_back(stored, std::move(bytes));
            if (g.below(4) == 0) {
                ASSERT_TRUE(client.flushFolder(h));
            }
        }
        ASSERT_TRUE(client.flushCabinet(h));
        ASSERT_TRUE(FCIDestroy(h));
        std::vector<CabEntry> entries;
        std::string error;
        ASSERT_TRUE(readWithMspack(client.path(name), entries, error))
            << name << " (window " << window << "): " << error;
        ASSERT_EQ(entries.size(), expected.size()) << name;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].data, expected[i].second)
                << name << " (window " << window << "), file " << i << " of "
                << expected[i].second.size() << " bytes";
        }
        fs::remove(client.path(name));
    }
    EXPECT_EQ(FciClient::liveAllocations(), 0);
}

} // namespace
