// The near-optimal parse on its own: the cost it claims for its path must be
// what the path's items take under the same prices, however the path was put
// together, or blocks are planned and typed on bits that are never written.
#include <vector>

#include <gtest/gtest.h>

#include "fci_client.h"
#include "lzx/block_writer.h"
#include "lzx/encoder.h"
#include "lzx/lzx_format.h"
#include "lzx/match_finder.h"
#include "lzx/parser.h"

namespace {
using namespace kp::cab::lzx;

constexpr unsigned kWindowBits = 16;
constexpr std::uint32_t kWindow = 1u << kWindowBits;

// The items' bits, priced one by one with the model, repeated offsets followed
// as a decoder follows them.
std::uint64_t priceItems(const CostModel& costs, const Item* items, unsigned count,
                         const std::uint8_t* data) {
    std::uint64_t bits = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (items[i].length == 1) {
            bits += costs.main[*data++];
            continue;
        }
        unsigned len = items[i].length;
        unsigned slot = slotOf(items[i].offset);
        bits += costs.main[mainSymbol(slot, len)];
        if (lengthHeader(len) == kNumPrimaryLengths) {
            bits += costs.length[len - kMinMatch - kNumPrimaryLengths];
        }
        bits += costs.offsetCost(items[i].offset, slot);
        data += len;
    }
    return bits;
}

// Items i, i+1, i+2 are a match, one literal and a repeat of the match's offset,
// which the match made the first repeated offset.
bool literalBetweenOneOffset(const Item* items, unsigned i) {
    return items[i].length >= kMinMatch && items[i + 1].length == 1 &&
           items[i + 2].length >= kMinMatch && items[i + 2].offset == 0;
}

struct SearchedInput {
    std::vector<std::uint8_t> data;
    std::vector<std::uint32_t> first;
    std::vector<Match> matches;
    std::vector<ParseNode> nodes;
    std::vector<std::uint8_t> tables;

    // Positions start at the window size, as in the encoder; every position is searched.
    explicit SearchedInput(const std::vector<std::uint8_t>& input)
        : data(kWindow + input.size()), nodes(input.size() + 1),
          tables(MatchFinder::tableBytes(kWindowBits)) {
        std::copy(input.begin(), input.end(), data.begin() + kWindow);
        MatchFinder finder;
        finder.init(tables.data(), kWindowBits, Tuning{}.searchDepth, Tuning{}.niceLength);
        std::uint32_t end = kWindow + std::uint32_t(input.size());
        Span span{data.data(), 0, end, true};
        Match found[kMaxMatchesPerPosition];
        for (std::uint32_t pos = kWindow; pos < end; ++pos) {
            first.push_back(std::uint32_t(matches.size()));
            unsigned n = finder.find(span, pos, found);
            matches.insert(matches.end(), found, found + n);
        }
        first.push_back(std::uint32_t(matches.size()));
    }
    Parser parser() {
        return {data.data(),
                0,
                kWindow,
                kWindow,
                {first.data(), matches.data()},
                nodes.data(),
                Tuning{}.niceLength,
                maxOffset(kWindowBits)};
    }
};

// Records of one pattern, each with a byte or two changed: the cheapest path is
// full of a match, a literal and the same offset again.
std::vector<std::uint8_t> editedRecords(std::size_t size, std::uint32_t seed) {
    auto text = kp::test::textBytes(size, seed);
    auto noise = kp::test::randomBytes(size, seed + 1);
    std::vector<std::uint8_t> v(size);
    const std::size_t period = 53;
    for (std::size_t i = 0; i < size; ++i) {
        v[i] = noise[i] % 23 == 0 ? noise[i] : text[i % period];
    }
    return v;
}

TEST(LzxParser, ClaimedCostIsWhatTheItemsTake) {
    for (std::uint32_t seed : {1u, 2u}) {
        auto input = editedRecords(3 * kFrameSize + 1000, seed);
        auto text = kp::test::textBytes(kFrameSize, seed + 7);
        input.insert(input.end(), text.begin(), text.end());
        SearchedInput s(input);
        Parser parser = s.parser();
        const std::uint32_t start = kWindow;
        const std::uint32_t end = kWindow + std::uint32_t(input.size());
        std::vector<Item> items(input.size());
        const Repeats initial{{1, 1, 1}};

        // First with the guessed prices, then with codes from that parse, verbatim and aligned.
        CostModel model;
        model.initial(input.data(), std::uint32_t(input.size()));
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            Repeats reps = initial;
            unsigned count = parser.parse(start, end, model, reps, items.data());
            parser.check(start, end, initial, reps, items.data(), count);
            EXPECT_EQ(std::uint64_t(s.nodes[input.size()].cost),
                      priceItems(model, items.data(), count, input.data()));

            unsigned literalRepeats = 0;
            for (unsigned i = 0; i + 2 < count; ++i) {
                literalRepeats += literalBetweenOneOffset(items.data(), i);
            }
            EXPECT_GT(literalRepeats, count / 20) << "the data should call for the edge";

            Symbols symbols;
            symbols.clear();
            symbols.add(items.data(), count, input.data());
            Codes codes;
            codes.build(symbols, kNumChars + 8 * slotsForWindow(kWindowBits));
            model.fromLengths(codes.mainLengths, codes.lengthLengths, codes.alignedLengths,
                              round == 1);
        }
    }
}

} // namespace
