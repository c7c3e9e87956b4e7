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

unsigned prepare(const std::uint8_t* lengths, const std::uint8_t* previous, unsigned n,
                 PretreeItem* items, Pretree& tree) {
    unsigned count = pretreeItems(lengths, previous, n, items);
    std::uint32_t freq[kNumPretreeSymbols] = {};
    for (unsigned i = 0; i < count; ++i) {
        ++freq[items[i].symbol];
        if (items[i].symbol == kEqualRun) {
            ++freq[items[i].repeatedDelta];
        }
    }
    buildCodeLengths(freq, kNumPretreeSymbols, kMaxPretreeLength, tree.lengths);
    assignCodes(tree.lengths, kNumPretreeSymbols, tree.codes);
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
