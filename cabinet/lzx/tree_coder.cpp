#include "tree_coder.h"

#include "huffman.h"
#include "lzx_format.h"

namespace kp::cab::lzx {

namespace {

// The runs the extra bits of kZeroRun, kLongZeroRun and kEqualRun can express.
constexpr unsigned kMinRun = 4;
constexpr unsigned kMinLongZeroRun = 20;
constexpr unsigned kMaxLongZeroRun = kMinLongZeroRun + 31;
constexpr unsigned kMaxEqualRun = kMinRun + 1;

unsigned deltaSymbol(unsigned previous, unsigned length) {
    return (previous + kZeroRun - length) % kZeroRun;
}

struct Pretree {
    std::uint8_t lengths[kNumPretreeSymbols];
    std::uint16_t codes[kNumPretreeSymbols];
};

unsigned extraBits(unsigned symbol) {
    return symbol == kZeroRun ? 4 : symbol == kLongZeroRun ? 5 : symbol == kEqualRun ? 1 : 0;
}

// Bits of the items under a pretree built for them; the pretree's own 4-bit
// lengths aside.
std::uint64_t buildPretree(const PretreeItem* items, unsigned count, Pretree& tree) {
    std::uint32_t freq[kNumPretreeSymbols] = {};
    for (unsigned i = 0; i < count; ++i) {
        ++freq[items[i].symbol];
        if (items[i].symbol == kEqualRun) {
            ++freq[items[i].repeatedDelta];
        }
    }
    buildCodeLengths(freq, kNumPretreeSymbols, kMaxPretreeLength, tree.lengths);
    assignCodes(tree.lengths, kNumPretreeSymbols, tree.codes);
    std::uint64_t bits = 0;
    for (unsigned s = 0; s < kNumPretreeSymbols; ++s) {
        bits += std::uint64_t(freq[s]) * tree.lengths[s];
        bits += std::uint64_t(freq[s]) * extraBits(s);
    }
    return bits;
}

// The items that cost least with the pretree symbols priced `price`: each
// length may go alone as a change, or in any run its neighbours allow.
unsigned cheapestItems(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n,
                       const std::uint32_t* price, PretreeItem* items) {
    std::uint32_t cost[kMaxHuffmanSymbols + 1];
    std::uint8_t take[kMaxHuffmanSymbols]; // lengths the item at i covers
    unsigned zeros = 0;                    // zero lengths from i on
    unsigned equal = 0;                    // lengths from i on that kEqualRun may cover
    cost[n] = 0;
    for (unsigned i = n; i-- > 0;) {
        unsigned delta = deltaSymbol(previous[i], lengths[i]);
        zeros = lengths[i] == 0 ? zeros + 1 : 0;
        equal = i + 1 < n && lengths[i + 1] == lengths[i] && previous[i + 1] == previous[i]
                    ? equal + 1
                    : 1;
        std::uint32_t best = price[delta] + cost[i + 1];
        unsigned bestTake = 1;
        for (unsigned run = kMinRun; run <= zeros && run <= kMaxLongZeroRun; ++run) {
            unsigned symbol = run < kMinLongZeroRun ? kZeroRun : kLongZeroRun;
            std::uint32_t c = price[symbol] + extraBits(symbol) + cost[i + run];
            if (c < best) {
                best = c;
                bestTake = run;
            }
        }
        for (unsigned run = kMinRun; run <= equal && run <= kMaxEqualRun; ++run) {
            std::uint32_t c =
                price[kEqualRun] + extraBits(kEqualRun) + price[delta] + cost[i + run];
            // Ties go to the zero runs, which need no change symbol after them.
            if (c < best) {
                best = c;
                bestTake = run + kMaxLongZeroRun; // marks an equal run
            }
        }
        cost[i] = best;
        take[i] = std::uint8_t(bestTake);
    }
    unsigned count = 0;
    for (unsigned i = 0; i < n;) {
        unsigned t = take[i];
        unsigned delta = deltaSymbol(previous[i], lengths[i]);
        if (t == 1) {
            items[count++] = {std::uint8_t(delta), 0, 0};
        } else if (t > kMaxLongZeroRun) {
            t -= kMaxLongZeroRun;
            items[count++] = {kEqualRun, std::uint8_t(t - kMinRun), std::uint8_t(delta)};
        } else if (t < kMinLongZeroRun) {
            items[count++] = {kZeroRun, std::uint8_t(t - kMinRun), 0};
        } else {
            items[count++] = {kLongZeroRun, std::uint8_t(t - kMinLongZeroRun), 0};
        }
        i += t;
    }
    return count;
}

// Symbols the pretree leaves out are priced as a long code, so that the next
// round may take them up where they pay even at that.
constexpr std::uint32_t kUnusedPretreePrice = 7;
constexpr unsigned kPretreeRounds = 3;

// The items and their pretree: the greedy split, then rounds that price each
// split with the pretree of the one before, keeping the cheapest.
unsigned prepare(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n,
                 PretreeItem* items, Pretree& tree) {
    unsigned count = pretreeItems(lengths, previous, n, items);
    std::uint64_t bits = buildPretree(items, count, tree);
    PretreeItem trial[kMaxHuffmanSymbols];
    Pretree trialTree = tree;
    for (unsigned round = 0; round < kPretreeRounds; ++round) {
        std::uint32_t price[kNumPretreeSymbols];
        for (unsigned s = 0; s < kNumPretreeSymbols; ++s) {
            price[s] = trialTree.lengths[s] ? trialTree.lengths[s] : kUnusedPretreePrice;
        }
        unsigned trialCount = cheapestItems(lengths, previous, n, price, trial);
        std::uint64_t trialBits = buildPretree(trial, trialCount, trialTree);
        if (trialBits >= bits) {
            break;
        }
        bits = trialBits;
        count = trialCount;
        tree = trialTree;
        for (unsigned i = 0; i < count; ++i) {
            items[i] = trial[i];
        }
    }
    return count;
}

} // namespace

unsigned pretreeItems(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n,
                      PretreeItem* items) {
    unsigned count = 0;
    unsigned i = 0;
    while (i < n) {
        unsigned run = 1;
        if (lengths[i] == 0) {
            while (i + run < n && lengths[i + run] == 0 && run < kMaxLongZeroRun) {
                ++run;
            }
            if (run >= kMinLongZeroRun) {
                items[count++] = {kLongZeroRun, std::uint8_t(run - kMinLongZeroRun), 0};
                i += run;
                continue;
            }
            if (run >= kMinRun) {
                items[count++] = {kZeroRun, std::uint8_t(run - kMinRun), 0};
                i += run;
                continue;
            }
        } else {
            // Decoders disagree on whether kEqualRun's delta applies to each old length
            // or only the first, so runs are taken only where both readings agree.
            while (i + run < n && run < kMaxEqualRun && lengths[i + run] == lengths[i] &&
                   previous[i + run] == previous[i]) {
                ++run;
            }
            if (run >= kMinRun) {
                items[count++] = {kEqualRun, std::uint8_t(run - kMinRun),
                                  std::uint8_t(deltaSymbol(previous[i], lengths[i]))};
                i += run;
                continue;
            }
        }
        items[count++] = {std::uint8_t(deltaSymbol(previous[i], lengths[i])), 0, 0};
        ++i;
    }
    return count;
}

std::uint64_t writeLengths(BitWriter& out, const std::uint8_t* lengths,
                           const std::uint8_t* previous, unsigned n) {
    PretreeItem items[kMaxHuffmanSymbols];
    Pretree tree;
    unsigned count = prepare(lengths, previous, n, items, tree);
    std::uint64_t start = out.bitCount();
    for (unsigned s = 0; s < kNumPretreeSymbols; ++s) {
        out.put(tree.lengths[s], 4);
    }
    for (unsigned i = 0; i < count; ++i) {
        const PretreeItem& item = items[i];
        out.put(tree.codes[item.symbol], tree.lengths[item.symbol]);
        out.put(item.extra, extraBits(item.symbol));
        if (item.symbol == kEqualRun) {
            out.put(tree.codes[item.repeatedDelta], tree.lengths[item.repeatedDelta]);
        }
    }
    return out.bitCount() - start;
}

std::uint64_t lengthsCost(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n) {
    PretreeItem items[kMaxHuffmanSymbols];
    Pretree tree;
    unsigned count = prepare(lengths, previous, n, items, tree);
    std::uint64_t bits = 4 * kNumPretreeSymbols;
    for (unsigned i = 0; i < count; ++i) {
        const PretreeItem& item = items[i];
        bits += tree.lengths[item.symbol] + extraBits(item.symbol);
        if (item.symbol == kEqualRun) {
            bits += tree.lengths[item.repeatedDelta];
        }
    }
    return bits;
}

} // namespace kp::cab::lzx
