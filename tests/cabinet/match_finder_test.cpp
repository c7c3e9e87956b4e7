// The match finder on its own, driven as the encoder drives it: positions in
// order, a chunk at a time, the positions under a long match only inserted.
// Every match it reports must be in the data.
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "checks.h"
#include "codec.h"
#include "fci_client.h"
#include "lzx/encoder.h"
#include "lzx/lzx_format.h"
#include "lzx/match_finder.h"
#include "lzx/parser.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

struct Setting {
    unsigned windowBits;
    unsigned depth;
    unsigned nice;
};

// Runs the finder over input as one stream, a chunk at a time with no more
// look-ahead than the finder asks for, and describes the first false matches
// it reports; empty when every match holds.
std::string falseMatches(const std::vector<std::uint8_t>& input, Setting s,
                         std::uint32_t chunk = kChunkBytes) {
    const std::uint32_t window = 1u << s.windowBits;
    // Positions start at the window size.
    std::vector<std::uint8_t> data(window + input.size());
    std::copy(input.begin(), input.end(), data.begin() + window);
    std::vector<std::uint8_t> tables(MatchFinder::tableBytes(s.windowBits));
    MatchFinder finder;
    finder.init(tables.data(), s.windowBits, s.depth, s.nice);

    const std::uint32_t streamEnd = window + std::uint32_t(input.size());
    std::ostringstream faults;
    unsigned count = 0;
    Match found[kMaxMatchesPerPosition];
    std::uint32_t skipUntil = window;
    for (std::uint32_t start = window; start < streamEnd; start += chunk) {
        std::uint32_t stop = std::min(start + chunk, streamEnd);
        std::uint32_t end = std::min(stop + s.nice, streamEnd);
        Span span{data.data(), 0, end, end == streamEnd};
        for (std::uint32_t pos = start; pos < stop; ++pos) {
            if (pos < skipUntil) {
                finder.skip(span, pos);
                continue;
            }
            unsigned n = finder.find(span, pos, found);
            unsigned previous = 1;
            for (unsigned i = 0; i < n; ++i) {
                unsigned len = matchLength(found[i]);
                std::uint32_t offset = matchOffset(found[i]);
                bool inReach = offset >= 1 && offset <= maxOffset(s.windowBits) &&
                               pos - offset >= window && pos + len <= end;
                unsigned real = inReach ? commonLength(&data[pos - offset], &data[pos], 0, len) : 0;
                if (real != len || len <= previous || len > kMaxMatch) {
                    if (count++ < 3) {
                        faults << "at " << pos - window << ": length " << len << " offset "
                               << offset << ", " << real << " bytes match; ";
                    }
                }
                previous = len;
            }
            if (n && matchLength(found[n - 1]) >= s.nice) {
                // As the encoder does: the positions under a long match are only inserted.
                skipUntil = pos + matchLength(found[n - 1]);
            }
        }
    }
    if (count) {
        faults << count << " false";
    }
    return faults.str();
}

std::vector<std::uint8_t> randomBlock(std::size_t n, std::uint32_t seed) {
    return kp::test::randomBytes(n, seed);
}

// Copies of one random block, each with a few bytes changed: the repeats match
// far back but not for ever, which is what orders the tree.
std::vector<std::uint8_t> nearlyPeriodic(std::size_t period, std::size_t size, std::uint32_t seed) {
    auto block = randomBlock(period, seed);
    auto noise = randomBlock(size, seed + 1);
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i) {
        v[i] = noise[i] % 61 == 0 ? noise[i] : block[i % period];
    }
    return v;
}

// Runs of one byte, short and long, some longer than any match.
std::vector<std::uint8_t> runs(std::size_t size, std::uint32_t seed) {
    auto r = randomBlock(size, seed);
    std::vector<std::uint8_t> v;
    v.reserve(size);
    for (std::size_t i = 0; v.size() < size; i += 2) {
        std::size_t len = 1 + (r[i % size] * 3 + r[(i + 1) % size]) % 700;
        v.insert(v.end(), std::min(len, size - v.size()), std::uint8_t(r[i % size] & 3));
    }
    return v;
}

std::vector<std::uint8_t> machineCode(std::size_t n) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    std::vector<std::uint8_t> v((std::istreambuf_iterator<char>(in)), {});
    v.resize(std::min(v.size(), n));
    return v;
}

constexpr Setting kInUse{21, Tuning{}.searchDepth, Tuning{}.niceLength};

TEST(MatchFinder, PeriodsAroundTheChunkAndTheWindowGiveOnlyRealMatches) {
    for (unsigned bits : {15u, 17u, 21u}) {
        Setting s{bits, kInUse.depth, kInUse.nice};
        std::size_t window = std::size_t(1) << bits;
        std::vector<std::size_t> periods = {kChunkBytes - 1, kChunkBytes, kChunkBytes + 1};
        if (bits < 21) {
            // At the edge of reach: window - 4 is the farthest offset.
            periods.insert(periods.end(), {window - 4, window - 3, window + 1});
        }
        for (std::size_t period : periods) {
            std::size_t size = 2 * std::max(period, std::size_t(kChunkBytes)) + 1000;
            EXPECT_EQ(falseMatches(nearlyPeriodic(period, size, std::uint32_t(period)), s), "")
                << "window " << bits << ", period " << period;
        }
    }
}

// Text from a dozen words fills the trees with long shared prefixes; chunks of
// 1000 bytes put many more positions near a chunk's end than the encoder does.
struct Chunking {
    std::uint32_t chunk;
    std::size_t size;
};
constexpr Chunking kChunkings[] = {{kChunkBytes, 2 * kChunkBytes + 1000}, {1000, 120000}};

TEST(MatchFinder, TextRunsAndCodeGiveOnlyRealMatches) {
    for (unsigned bits : {15u, 18u, 21u}) {
        Setting s{bits, kInUse.depth, kInUse.nice};
        for (Chunking c : kChunkings) {
            std::string where =
                "window " + std::to_string(bits) + ", chunk " + std::to_string(c.chunk);
            EXPECT_EQ(falseMatches(kp::test::textBytes(c.size, bits), s, c.chunk), "")
                << "text, " << where;
            EXPECT_EQ(falseMatches(runs(c.size, bits), s, c.chunk), "") << "runs, " << where;
            EXPECT_EQ(falseMatches(machineCode(c.size), s, c.chunk), "") << "code, " << where;
        }
    }
}

TEST(MatchFinder, DeepestAndShallowestSearchesGiveOnlyRealMatches) {
    for (Setting s :
         {Setting{21, kMaxSearchDepth, kMaxNiceLength},
          Setting{16, kMaxSearchDepth, kMaxNiceLength}, Setting{21, 1, kMinNiceLength}}) {
        std::string where = "depth " + std::to_string(s.depth) + ", nice " +
                            std::to_string(s.nice) + ", window " + std::to_string(s.windowBits);
        for (Chunking c : kChunkings) {
            EXPECT_EQ(falseMatches(kp::test::textBytes(c.size, 7), s, c.chunk), "")
                << "text, " << where << ", chunk " << c.chunk;
            EXPECT_EQ(falseMatches(machineCode(c.size), s, c.chunk), "")
                << "code, " << where << ", chunk " << c.chunk;
        }
    }
}

// The checked build stops at a false match, or at a search that could build
// one, and names the position.
TEST(MatchFinderDeathTest, CheckedBuildStopsAtAFalseMatch) {
    if (!kExpensiveChecks) {
        GTEST_SKIP() << "only the checked (sanitizer) build verifies matches";
    }
    const std::uint32_t window = 1u << 15;
    std::vector<std::uint8_t> data(window + 4000);
    auto text = kp::test::textBytes(4000, 3);
    std::copy(text.begin(), text.end(), data.begin() + window);
    Repeats reps{{1, 1, 1}};

    // "cabinet folder " is not 15 bytes back of where it stands at 100.
    std::uint32_t at = window + 100;
    Item items[] = {{100, 1}, {15 + 2, 15}};
    Parser parser{data.data(), 0, window, window, {}, nullptr, 48, maxOffset(15)};
    ASSERT_NE(commonLength(&data[at - 15], &data[at], 0, 15), 15u);
    EXPECT_DEATH(parser.check(at - 1, at + 15, reps, reps, items, 2),
                 "parser: false match .* at position 100 ");

    std::vector<std::uint8_t> tables(MatchFinder::tableBytes(15));
    MatchFinder finder;
    finder.init(tables.data(), 15, 20, 48);
    Match found[kMaxMatchesPerPosition];
    Span shortSpan{data.data(), 0, window + 40, false};
    EXPECT_DEATH(finder.find(shortSpan, window, found),
                 "too few bytes ahead before the stream's end at position 0 ");
}

} // namespace
