#include "parser.h"

#include <cmath>
#include <cstring>

#include "../checks.h"

namespace kp::cab::lzx {

namespace {

constexpr std::uint32_t kInfinity = 0xFFFFFFFFu;

// Prices of symbols the current codes leave out.
constexpr std::uint32_t kUnusedMain = 11;
constexpr std::uint32_t kUnusedLength = 9;

void relax(ParseNode& to, std::uint32_t cost, std::uint32_t length, std::uint32_t offset,
           const Repeats& reps) {
    if (cost < to.cost) {
        to.cost = cost;
        to.length = length;
        to.offset = offset;
        to.lead = 0;
        to.reps = reps;
    }
}

// Bits of a match's main symbol and length footer, without its offset bits.
std::uint32_t lengthCost(const CostModel& costs, unsigned slot, unsigned len) {
    unsigned h = lengthHeader(len);
    std::uint32_t cost = costs.main[kNumChars + slot * 8 + h];
    if (h == kNumPrimaryLengths) {
        cost += costs.length[len - kMinMatch - kNumPrimaryLengths];
    }
    return cost;
}

Repeats afterMatch(const Repeats& in, std::uint32_t formatted, std::uint32_t offset) {
    Repeats out = in;
    if (formatted >= kNumRepeats) {
        out.r[2] = in.r[1];
        out.r[1] = in.r[0];
        out.r[0] = offset;
    } else if (formatted) {
        out.r[0] = in.r[formatted];
        out.r[formatted] = in.r[0];
    }
    return out;
}

} // namespace

void CostModel::fromLengths(const std::uint8_t* mainLengths, const std::uint8_t* lengthLengths,
                            const std::uint8_t* alignedLengths, bool aligned) {
    for (unsigned s = 0; s < kMaxMainSymbols; ++s) {
        main[s] = mainLengths[s] ? mainLengths[s] : kUnusedMain;
    }
    for (unsigned s = 0; s < kNumLengthSymbols; ++s) {
        length[s] = lengthLengths[s] ? lengthLengths[s] : kUnusedLength;
    }
    for (unsigned s = 0; s < kNumAlignedSymbols; ++s) {
        this->aligned[s] = alignedLengths[s] ? alignedLengths[s] : kMaxAlignedLength;
    }
    useAligned = aligned;
}

void CostModel::initial(const std::uint8_t* data, std::uint32_t size) {
    std::uint32_t freq[kNumChars] = {};
    for (std::uint32_t i = 0; i < size; ++i) {
        ++freq[data[i]];
    }
    for (unsigned s = 0; s < kNumChars; ++s) {
        double bits = freq[s] ? std::log2(double(size) / freq[s]) : 12.0;
        bits = bits < 1 ? 1 : bits > 15 ? 15 : bits;
        main[s] = std::uint32_t(bits + 0.5);
    }
    for (unsigned s = kNumChars; s < kMaxMainSymbols; ++s) {
        main[s] = 9;
    }
    for (unsigned s = 0; s < kNumLengthSymbols; ++s) {
        length[s] = 6;
    }
    for (unsigned s = 0; s < kNumAlignedSymbols; ++s) {
        aligned[s] = 3;
    }
    useAligned = false;
}

std::uint32_t CostModel::offsetCost(std::uint32_t formatted, unsigned slot) const {
    unsigned extra = slotExtraBits(slot);
    if (useAligned && extra >= 3) {
        return extra - 3 + aligned[formatted & 7];
    }
    return extra;
}

void Symbols::clear() {
    std::memset(this, 0, sizeof(*this));
}

void Symbols::add(const Item* items, unsigned count, const std::uint8_t* data) {
    for (unsigned i = 0; i < count; ++i) {
        const Item& it = items[i];
        if (it.length == 1) {
            ++main[*data++];
            continue;
        }
        unsigned slot = slotOf(it.offset);
        ++main[mainSymbol(slot, it.length)];
        if (lengthHeader(it.length) == kNumPrimaryLengths) {
            ++length[it.length - kMinMatch - kNumPrimaryLengths];
        }
        if (slotExtraBits(slot) >= 3) {
            ++aligned[it.offset & 7];
        }
        data += it.length;
    }
}

namespace {

// How long a match at streamPos may be: it ends at the block's end, `left` bytes
// on, and never crosses a frame boundary.
unsigned matchRoom(std::uint32_t streamPos, std::uint32_t left) {
    std::uint32_t frameRoom = kFrameSize - streamPos % kFrameSize;
    std::uint32_t room = frameRoom < left ? frameRoom : left;
    return room < kMaxMatch ? unsigned(room) : kMaxMatch;
}

// What one position offers: how far each repeated offset matches, the matches
// the finder cached, and the longest of them all.
struct Offers {
    unsigned repLen[kNumRepeats];
    const Match* matches;
    const Match* matchesEnd;
    unsigned longest;
    std::uint32_t longestOffset;
    std::uint32_t longestFormatted;
};

// maxLen is matchRoom() of pos, at least kMinMatch.
Offers offersAt(const Parser& p, const Repeats& reps, std::uint32_t pos, unsigned maxLen) {
    const std::uint8_t* cur = p.data + (pos - p.base);
    std::uint32_t streamPos = pos - p.streamStart;
    Offers o{};
    for (unsigned j = 0; j < kNumRepeats; ++j) {
        std::uint32_t r = reps.r[j];
        // An offset before the stream's start, or one an earlier repeat already
        // tries, is not worth comparing.
        if (r > streamPos || (j > 0 && r == reps.r[0]) || (j == 2 && r == reps.r[1])) {
            continue;
        }
        unsigned len = commonLength(cur - r, cur, 0, maxLen);
        o.repLen[j] = len;
        if (len > o.longest) {
            o.longest = len;
            o.longestOffset = r;
            o.longestFormatted = j;
        }
    }
    const std::uint32_t* first = p.cache.first + (pos - p.cacheStart);
    o.matches = p.cache.matches + first[0];
    o.matchesEnd = p.cache.matches + first[1];
    if (o.matches != o.matchesEnd) {
        Match last = o.matchesEnd[-1];
        unsigned len = matchLength(last) < maxLen ? matchLength(last) : maxLen;
        if (len > o.longest) {
            o.longest = len;
            o.longestOffset = matchOffset(last);
            o.longestFormatted = o.longestOffset + 2;
            for (unsigned j = kNumRepeats; j-- > 0;) {
                if (reps.r[j] == o.longestOffset) {
                    o.longestFormatted = j; // the lowest, which needs no swap when equal
                }
            }
        }
    }
    return o;
}

// Relaxes the edges from `from` of every length in [shortest, longest] with one
// formatted offset in `slot`; priced is the cost at `from` plus the offset's bits.
void relaxLengths(ParseNode* from, const CostModel& costs, unsigned shortest, unsigned longest,
                  std::uint32_t priced, unsigned slot, std::uint32_t formatted,
                  const Repeats& next) {
    for (unsigned len = shortest; len <= longest; ++len) {
        relax(from[len], priced + lengthCost(costs, slot, len), len, formatted, next);
    }
}

// A match that stops one byte short of going on often goes on after that byte:
// the match of `len` bytes from `pos` with `offset`, priced `priced` with its
// offset bits, then one literal, then the same offset again, which the match has
// made the first repeat and the literal leaves so.
void relaxLiteralRepeat(const Parser& p, ParseNode* from, const CostModel& costs, std::uint32_t pos,
                        std::uint32_t end, unsigned len, std::uint32_t priced, unsigned slot,
                        std::uint32_t formatted, std::uint32_t offset, const Repeats& next) {
    std::uint32_t after = pos + len + 1;
    if (after + kMinMatch > end) {
        return;
    }
    unsigned room = matchRoom(after - p.streamStart, end - after);
    if (room < kMinMatch) {
        return;
    }
    const std::uint8_t* cur = p.data + (after - p.base);
    unsigned rep = commonLength(cur - offset, cur, 0, room);
    if (rep < kMinMatch) {
        return;
    }
    std::uint32_t cost =
        priced + lengthCost(costs, slot, len) + costs.main[cur[-1]] + lengthCost(costs, 0, rep);
    ParseNode& to = from[len + 1 + rep];
    if (cost < to.cost) {
        to.cost = cost;
        to.length = rep;
        to.offset = 0;
        to.lead = len;
        to.leadOffset = formatted;
        to.reps = next;
    }
}

// The cached matches, each priced with the lengths the ones before it did not reach.
void relaxMatches(const Parser& p, ParseNode* from, const CostModel& costs, const Offers& o,
                  std::uint32_t pos, std::uint32_t end, unsigned maxLen) {
    const Repeats& reps = from->reps;
    unsigned done = 1;
    for (const Match* m = o.matches; m != o.matchesEnd && done < maxLen; ++m) {
        std::uint32_t offset = matchOffset(*m);
        unsigned len = matchLength(*m) < maxLen ? matchLength(*m) : maxLen;
        if (offset == reps.r[0] || offset == reps.r[1] || offset == reps.r[2]) {
            // The repeated-offset edges already cover it, cheaper.
            done = len > done ? len : done;
            continue;
        }
        std::uint32_t formatted = offset + 2;
        unsigned slot = slotOf(formatted);
        std::uint32_t priced = from->cost + costs.offsetCost(formatted, slot);
        Repeats next = afterMatch(reps, formatted, offset);
        relaxLengths(from, costs, done + 1, len, priced, slot, formatted, next);
        relaxLiteralRepeat(p, from, costs, pos, end, len, priced, slot, formatted, offset, next);
        done = len > done ? len : done;
    }
}

// Relaxes every edge that leaves node k; returns how many positions the parse
// moves on.
std::uint32_t relaxFrom(const Parser& p, std::uint32_t k, std::uint32_t pos, std::uint32_t end,
                        const CostModel& costs) {
    ParseNode* from = p.nodes + k;
    relax(from[1], from->cost + costs.main[p.data[pos - p.base]], 1, 0, from->reps);
    unsigned maxLen = matchRoom(pos - p.streamStart, end - pos);
    if (maxLen < kMinMatch) {
        return 1;
    }
    Offers o = offersAt(p, from->reps, pos, maxLen);
    if (o.longest >= p.nice) {
        // Long matches are taken whole and the positions they cover skipped:
        // nothing the parser could find inside pays for the time.
        unsigned slot = slotOf(o.longestFormatted);
        std::uint32_t priced = from->cost + costs.offsetCost(o.longestFormatted, slot);
        Repeats next = afterMatch(from->reps, o.longestFormatted, o.longestOffset);
        relaxLengths(from, costs, o.longest, o.longest, priced, slot, o.longestFormatted, next);
        relaxLiteralRepeat(p, from, costs, pos, end, o.longest, priced, slot, o.longestFormatted,
                           o.longestOffset, next);
        return o.longest;
    }
    for (unsigned j = 0; j < kNumRepeats; ++j) {
        // Repeated offsets sit in slots 0..2, which carry no offset bits.
        Repeats next = afterMatch(from->reps, j, 0);
        relaxLengths(from, costs, kMinMatch, o.repLen[j], from->cost, j, j, next);
        if (o.repLen[j] >= kMinMatch) {
            relaxLiteralRepeat(p, from, costs, pos, end, o.repLen[j], from->cost, j, j,
                               from->reps.r[j], next);
        }
    }
    relaxMatches(p, from, costs, o, pos, end, maxLen);
    return 1;
}

// The items of the cheapest path to node n, first to last; returns how many.
unsigned pathItems(const ParseNode* nodes, std::uint32_t n, Item* items) {
    unsigned count = 0;
    for (std::uint32_t k = n; k > 0;) {
        const ParseNode& node = nodes[k];
        items[count++] = {node.offset, node.length};
        k -= node.length;
        if (node.lead) {
            items[count++] = {0, 1};
            items[count++] = {node.leadOffset, node.lead};
            k -= node.lead + 1;
        }
    }
    for (unsigned i = 0; i < count / 2; ++i) {
        Item t = items[i];
        items[i] = items[count - 1 - i];
        items[count - 1 - i] = t;
    }
    return count;
}

} // namespace

unsigned Parser::parse(std::uint32_t start, std::uint32_t end, const CostModel& costs,
                       Repeats& reps, Item* items) const {
    std::uint32_t n = end - start;
    for (std::uint32_t k = 0; k <= n; ++k) {
        nodes[k].cost = kInfinity;
    }
    nodes[0].cost = 0;
    nodes[0].reps = reps;
    for (std::uint32_t k = 0; k < n;) {
        k += relaxFrom(*this, k, start + k, end, costs);
    }
    unsigned count = pathItems(nodes, n, items);
    if constexpr (kExpensiveChecks) {
        check(start, end, reps, nodes[n].reps, items, count);
    }
    reps = nodes[n].reps;
    return count;
}

void Parser::check(std::uint32_t start, std::uint32_t end, Repeats reps, const Repeats& after,
                   const Item* items, unsigned count) const {
    std::uint32_t pos = start;
    for (unsigned i = 0; i < count; ++i) {
        std::uint32_t streamPos = pos - streamStart;
        std::uint32_t len = items[i].length;
        if (len == 0 || len > end - pos || (len > 1 && len < kMinMatch) || len > kMaxMatch) {
            invariantBroken("parser: item length out of range", streamPos, len, end - pos);
        }
        if (len > 1) {
            std::uint32_t formatted = items[i].offset;
            std::uint32_t offset = formatted < kNumRepeats ? reps.r[formatted] : formatted - 2;
            reps = afterMatch(reps, formatted, offset);
            if (offset == 0 || offset > maxOffset || offset > streamPos) {
                invariantBroken("parser: offset out of reach", streamPos, offset, formatted);
            }
            if (streamPos % kFrameSize + len > kFrameSize) {
                invariantBroken("parser: match crosses a frame boundary", streamPos, len, offset);
            }
            const std::uint8_t* cur = data + (pos - base);
            unsigned real = commonLength(cur - offset, cur, 0, len);
            if (real != len) {
                invariantBroken("parser: false match (length, bytes equal)", streamPos, len, real);
            }
        }
        pos += len;
    }
    if (pos != end) {
        invariantBroken("parser: items do not cover the block", pos - streamStart, pos, end);
    }
    for (unsigned j = 0; j < kNumRepeats; ++j) {
        if (reps.r[j] != after.r[j]) {
            invariantBroken("parser: repeated offsets differ from the decoder's", end - streamStart,
                            reps.r[j], after.r[j]);
        }
    }
}

} // namespace kp::cab::lzx
