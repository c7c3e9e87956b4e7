#include "block_split.h"

#include <cmath>

#include "block_writer.h"

namespace kp::cab::lzx {

namespace {

// Sum of c*log2(T/c) over the differences of two cumulative histograms, and
// how many symbols occur.
double entropyBits(const std::uint32_t* hi, const std::uint32_t* lo, unsigned n, unsigned* used) {
    double total = 0;
    double sumClogC = 0;
    for (unsigned s = 0; s < n; ++s) {
        std::uint32_t c = hi[s] - lo[s];
        if (c) {
            total += c;
            sumClogC += c * std::log2(double(c));
            ++*used;
        }
    }
    return total ? total * std::log2(total) - sumClogC : 0;
}

// Trees cost about this much per symbol that has a code, plus three pretrees
// of four bits a length.
constexpr double kTreeBitsPerSymbol = 4.5;
constexpr double kBlockOverhead = kBlockHeaderBits + 3 * 4 * kNumPretreeSymbols;

} // namespace

double estimateBlockBits(const Segments& seg, unsigned from, unsigned to) {
    const Symbols& hi = seg.cumulative[to];
    const Symbols& lo = seg.cumulative[from];
    unsigned used = 0;
    double bits = entropyBits(hi.main, lo.main, kMaxMainSymbols, &used);
    bits += entropyBits(hi.length, lo.length, kNumLengthSymbols, &used);
    bits += double(seg.extraBits[to] - seg.extraBits[from]);
    return bits + kBlockOverhead + kTreeBitsPerSymbol * used;
}

void planBlocks(const Segments& seg, BlockPlan& plan) {
    unsigned n = seg.count;
    double best[kMaxSegments + 1];
    unsigned from[kMaxSegments + 1];
    bool stored[kMaxSegments + 1];
    best[0] = 0;
    for (unsigned j = 1; j <= n; ++j) {
        best[j] = INFINITY;
        bool endOk = j == n ? seg.storableEnd : seg.frameStart[j];
        for (unsigned i = 0; i < j; ++i) {
            double bits = best[i] + estimateBlockBits(seg, i, j);
            if (bits < best[j]) {
                best[j] = bits;
                from[j] = i;
                stored[j] = false;
            }
            if (endOk && seg.frameStart[i]) {
                double raw =
                    best[i] + 8.0 * (seg.start[j] - seg.start[i]) + kUncompressedOverheadBits;
                if (raw < best[j]) {
                    best[j] = raw;
                    from[j] = i;
                    stored[j] = true;
                }
            }
        }
    }
    // Walk back, then reverse.
    unsigned ends[kMaxSegments + 1];
    bool kinds[kMaxSegments + 1];
    unsigned count = 0;
    for (unsigned j = n; j > 0; j = from[j]) {
        ends[count] = j;
        kinds[count] = stored[j];
        ++count;
    }
    plan.count = count;
    plan.start[0] = 0;
    for (unsigned b = 0; b < count; ++b) {
        plan.start[b + 1] = seg.start[ends[count - 1 - b]];
        plan.stored[b] = kinds[count - 1 - b];
    }
}

} // namespace kp::cab::lzx
