#include "huffman.h"

#include <algorithm>

#include "lzx_format.h"

namespace kp::cab::lzx {

namespace {

struct Leaf {
    std::uint32_t freq;
    std::uint16_t symbol;
};

// Depths of an unrestricted Huffman tree over leaves sorted by frequency,
// built with the two-queue method; depth[i] belongs to leaves[i].
void huffmanDepths(const Leaf* leaves, unsigned n, unsigned* depth) {
    // Nodes 0..n-1 are leaves, n..2n-2 internal nodes in creation order.
    std::uint64_t weight[2 * kMaxHuffmanSymbols];
    unsigned parent[2 * kMaxHuffmanSymbols];
    for (unsigned i = 0; i < n; ++i) {
        weight[i] = leaves[i].freq;
    }
    unsigned nextLeaf = 0;
    unsigned nextInner = n;
    unsigned created = n;
    auto take = [&]() {
        if (nextLeaf < n && (nextInner == created || weight[nextLeaf] <= weight[nextInner])) {
            return nextLeaf++;
        }
        return nextInner++;
    };
    while (created < 2 * n - 1) {
        unsigned a = take();
        unsigned b = take();
        weight[created] = weight[a] + weight[b];
        parent[a] = parent[b] = created;
        ++created;
    }
    unsigned root = 2 * n - 2;
    unsigned nodeDepth[2 * kMaxHuffmanSymbols];
    nodeDepth[root] = 0;
    for (unsigned i = root; i-- > 0;) {
        nodeDepth[i] = nodeDepth[parent[i]] + 1;
    }
    for (unsigned i = 0; i < n; ++i) {
        depth[i] = nodeDepth[i];
    }
}

} // namespace

void buildCodeLengths(const std::uint32_t* freq, unsigned n, unsigned maxLength,
                      std::uint8_t* lengths) {
    Leaf leaves[kMaxHuffmanSymbols];
    unsigned used = 0;
    for (unsigned s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (freq[s]) {
            leaves[used++] = {freq[s], std::uint16_t(s)};
        }
    }
    // A lone or missing symbol still needs a complete code: pad with the first
    // unused symbols at the lowest weight.
    for (unsigned s = 0; used < 2 && s < n; ++s) {
        if (!freq[s]) {
            leaves[used++] = {0, std::uint16_t(s)};
        }
    }
    std::sort(leaves, leaves + used, [](const Leaf& a, const Leaf& b) {
        return a.freq != b.freq ? a.freq < b.freq : a.symbol < b.symbol;
    });

    unsigned depth[kMaxHuffmanSymbols];
    huffmanDepths(leaves, used, depth);

    // Count codes per length, then push overlong leaves up while keeping the
    // Kraft sum at one: a pair at the deepest level becomes one leaf a level
    // up, and a shallower leaf splits to host the other.
    unsigned count[2 * kMaxHuffmanSymbols] = {};
    unsigned deepest = 0;
    for (unsigned i = 0; i < used; ++i) {
        ++count[depth[i]];
        deepest = std::max(deepest, depth[i]);
    }
    for (unsigned len = deepest; len > maxLength; --len) {
        while (count[len] > 0) {
            unsigned j = len - 2;
            while (count[j] == 0) {
                --j;
            }
            count[len] -= 2;
            count[len - 1] += 1;
            count[j + 1] += 2;
            count[j] -= 1;
        }
    }
    // Longest codes to the rarest symbols.
    unsigned i = 0;
    for (unsigned len = std::min(deepest, maxLength); len >= 1; --len) {
        for (unsigned k = 0; k < count[len]; ++k) {
            lengths[leaves[i++].symbol] = std::uint8_t(len);
        }
    }
}

void assignCodes(const std::uint8_t* lengths, unsigned n, std::uint16_t* codes) {
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < n; ++s) {
        ++count[lengths[s]];
    }
    count[0] = 0;
    unsigned next[kMaxCodeLength + 1];
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned s = 0; s < n; ++s) {
        codes[s] = lengths[s] ? std::uint16_t(next[lengths[s]]++) : 0;
    }
}

} // namespace kp::cab::lzx
