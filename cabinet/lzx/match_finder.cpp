#include "match_finder.h"

#include <cstring>

#include "../checks.h"

namespace kp::cab::lzx {

namespace {

std::uint32_t hash3Of(const std::uint8_t* p) {
    std::uint32_t v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
    return (v * 0x9E3779B1u) >> (32 - kHash3Bits);
}

} // namespace

std::uint64_t MatchFinder::tableBytes(unsigned windowBits) {
    return 4 * ((std::uint64_t(1) << kHash3Bits) + 65536 + (std::uint64_t(2) << windowBits));
}

void MatchFinder::init(void* memory, unsigned windowBits, unsigned searchDepth,
                       unsigned niceLength) {
    std::memset(memory, 0, tableBytes(windowBits));
    hash3 = static_cast<std::uint32_t*>(memory);
    hash2 = hash3 + (1u << kHash3Bits);
    tree = hash2 + 65536;
    windowMask = (1u << windowBits) - 1;
    maxOffset = lzx::maxOffset(windowBits);
    depth = searchDepth;
    nice = niceLength;
}

unsigned MatchFinder::find(const Span& span, std::uint32_t pos, Match* out) {
    unsigned count = search<true>(span, pos, out);
    if constexpr (kExpensiveChecks) {
        check(span, pos, out, count);
    }
    return count;
}

void MatchFinder::skip(const Span& span, std::uint32_t pos) {
    search<false>(span, pos, nullptr);
}

void MatchFinder::check(const Span& span, std::uint32_t pos, const Match* out,
                        unsigned count) const {
    const std::uint32_t streamStart = windowMask + 1;
    unsigned previous = 1;
    for (unsigned i = 0; i < count; ++i) {
        unsigned len = matchLength(out[i]);
        std::uint32_t offset = matchOffset(out[i]);
        if (len <= previous || len > kMaxMatch || len > span.end - pos) {
            invariantBroken("match finder: match length out of order or range", pos - streamStart,
                            len, previous);
        }
        if (offset == 0 || offset > maxOffset || offset > pos - streamStart ||
            pos - offset < span.base) {
            invariantBroken("match finder: offset out of reach", pos - streamStart, offset, len);
        }
        const std::uint8_t* cur = span.data + (pos - span.base);
        unsigned real = commonLength(cur - offset, cur, 0, len);
        if (real != len) {
            invariantBroken("match finder: false match (length, bytes equal)", pos - streamStart,
                            len, real);
        }
        previous = len;
    }
}

template <bool report>
unsigned MatchFinder::search(const Span& span, std::uint32_t pos, Match* out) {
    if constexpr (kExpensiveChecks) {
        if (!span.streamEnds && span.end - pos < nice) {
            invariantBroken("match finder: too few bytes ahead before the stream's end",
                            pos - (windowMask + 1), span.end - pos, nice);
        }
    }
    const std::uint8_t* data = span.data;
    const std::uint32_t base = span.base;
    const std::uint8_t* cur = data + (pos - base);
    std::uint32_t avail = span.end - pos;
    unsigned maxLen = avail < kMaxMatch ? avail : kMaxMatch;
    unsigned count = 0;
    if (maxLen < 3) {
        // Too short for the tree; a two-byte match may still be there.
        if (maxLen == 2) {
            std::uint32_t& slot2 = hash2[cur[0] | cur[1] << 8];
            std::uint32_t cand = slot2;
            slot2 = pos;
            if (report && pos - cand <= maxOffset) {
                out[count++] = makeMatch(2, pos - cand);
            }
        }
        return count;
    }
    if (avail > 3) {
        // The next position's bucket is a likely cache miss; start loading it now.
        __builtin_prefetch(&hash3[hash3Of(cur + 1)]);
    }
    unsigned best = 1;
    std::uint32_t& slot2 = hash2[cur[0] | cur[1] << 8];
    std::uint32_t cand2 = slot2;
    slot2 = pos;
    if (report && pos - cand2 <= maxOffset) {
        best = 2;
        out[count++] = makeMatch(2, pos - cand2);
    }

    std::uint32_t& head = hash3[hash3Of(cur)];
    std::uint32_t node = head;
    head = pos;
    // Only short of the stream's end is the limit below nice (see Span).
    unsigned limit = maxLen < nice ? maxLen : nice;
    std::uint32_t* lessSide = &tree[2 * (pos & windowMask)];
    std::uint32_t* moreSide = lessSide + 1;
    unsigned lessLen = 0;
    unsigned moreLen = 0;
    for (unsigned d = depth;; --d) {
        if (pos - node > maxOffset || d == 0) {
            *lessSide = 0;
            *moreSide = 0;
            break;
        }
        const std::uint8_t* match = data + (node - base);
        std::uint32_t* children = &tree[2 * (node & windowMask)];
        // The subtree below lies, in the tree's order, between the last node
        // found smaller than cur (sharing lessLen bytes with it) and the last
        // found greater (moreLen bytes); everything between two strings shares
        // their common prefix with cur, so those bytes need no comparing.
        unsigned len = commonLength(match, cur, lessLen < moreLen ? lessLen : moreLen, limit);
        if (len > best) {
            best = len;
            if (report) {
                unsigned full = len == limit ? commonLength(match, cur, len, maxLen) : len;
                out[count++] = makeMatch(full, pos - node);
                if (count == kMaxMatchesPerPosition) {
                    // Longer matches may exist but the parser has plenty to choose from.
                    count -= 1;
                }
            }
            if (len == limit) {
                // Equal as far as the tree looks: the new node takes its place.
                *lessSide = children[0];
                *moreSide = children[1];
                break;
            }
        }
        if (match[len] < cur[len]) {
            *lessSide = node;
            lessSide = &children[1];
            lessLen = len;
            node = *lessSide;
        } else {
            *moreSide = node;
            moreSide = &children[0];
            moreLen = len;
            node = *moreSide;
        }
    }
    return count;
}

template unsigned MatchFinder::search<true>(const Span&, std::uint32_t, Match*);
template unsigned MatchFinder::search<false>(const Span&, std::uint32_t, Match*);

} // namespace kp::cab::lzx
