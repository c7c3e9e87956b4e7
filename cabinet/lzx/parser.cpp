#include "parser.h"

#include <cmath>
#include <cstring>

#include "../checks.h"

namespace kp::cab::lzx {

namespace {

constexpr std::uint32_t kInfinity = 0xFFFFFFFFu;
constexpr std::uint32_t kFrame = 32768;

// Prices of symbols the current codes leave out.
constexpr std::uint32_t kUnusedMain = 13;
constexpr std::uint32_t kUnusedLength = 9;

void relax(ParseNode& to, std::uint32_t cost, std::uint32_t length, std::uint32_t offset,
           const Repeats& reps) {
    if (cost < to.cost) {
        to.cost = cost;
        to.length = length;
        to.offset = offset;
        to.reps = reps;
    }
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
    std::uint32_t freq[256] = {};
    for (std::uint32_t i = 0; i < size; ++i) {
        ++freq[data[i]];
    }
    for (unsigned s = 0; s < 256; ++s) {
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

unsigned Parser::parse(std::uint32_t start, std::uint32_t end, const CostModel& costs,
                       Repeats& reps, Item* items) const {
    std::uint32_t n = end - start;
    for (std::uint32_t k = 0; k <= n; ++k) {
        nodes[k].cost = kInfinity;
    }
    nodes[0].cost = 0;
    nodes[0].reps = reps;

    for (std::uint32_t k = 0; k < n;) {
        const ParseNode& node = nodes[k];
        std::uint32_t pos = start + k;
        const std::uint8_t* cur = data + (pos - base);
        std::uint32_t streamPos = pos - streamStart;
        // Matches end at the block's end and never cross a frame boundary.
        std::uint32_t room = end - pos;
        std::uint32_t frameRoom = kFrame - streamPos % kFrame;
        if (frameRoom < room) {
            room = frameRoom;
        }
        unsigned maxLen = room < kMaxMatch ? unsigned(room) : kMaxMatch;

        relax(nodes[k + 1], node.cost + costs.main[*cur], 1, 0, node.reps);
        if (maxLen < kMinMatch) {
            ++k;
            continue;
        }

        // Long matches are taken whole and the positions they cover skipped:
        // nothing the parser could find inside pays for the time.
        unsigned longest = 0;
        std::uint32_t longestOffset = 0;
        std::uint32_t longestFormatted = 0;

        unsigned repLen[kNumRepeats] = {};
        for (unsigned j = 0; j < kNumRepeats; ++j) {
            std::uint32_t r = node.reps.r[j];
            if (r > streamPos || (j > 0 && r == node.reps.r[0]) ||
                (j == 2 && r == node.reps.r[1])) {
                continue;
            }
            unsigned len = commonLength(cur - r, cur, 0, maxLen);
            repLen[j] = len;
            if (len > longest) {
                longest = len;
                longestOffset = r;
                longestFormatted = j;
            }
        }
        const std::uint32_t* first = cache.first + (pos - cacheStart);
        const Match* m = cache.matches + first[0];
        const Match* mEnd = cache.matches + first[1];
        if (m != mEnd) {
            Match last = mEnd[-1];
            unsigned len = matchLength(last) < maxLen ? matchLength(last) : maxLen;
            if (len > longest) {
                longest = len;
                longestOffset = matchOffset(last);
                longestFormatted = longestOffset + 2;
                for (unsigned j = kNumRepeats; j-- > 0;) {
                    if (node.reps.r[j] == longestOffset) {
                        longestFormatted = j; // the lowest, which needs no swap when equal
                    }
                }
            }
        }
        if (longest >= nice) {
            unsigned slot = slotOf(longestFormatted);
            std::uint32_t cost = node.cost + costs.main[mainSymbol(slot, longest)] +
                                 costs.offsetCost(longestFormatted, slot);
            if (lengthHeader(longest) == kNumPrimaryLengths) {
                cost += costs.length[longest - kMinMatch - kNumPrimaryLengths];
            }
            relax(nodes[k + longest], cost, longest, longestFormatted,
                  afterMatch(node.reps, longestFormatted, longestOffset));
            k += longest;
            continue;
        }

        for (unsigned j = 0; j < kNumRepeats; ++j) {
            if (repLen[j] < kMinMatch) {
                continue;
            }
            Repeats next = afterMatch(node.reps, j, 0);
            const std::uint32_t* mainCost = costs.main + kNumChars + j * 8;
            for (unsigned len = kMinMatch; len <= repLen[j]; ++len) {
                unsigned h = lengthHeader(len);
                std::uint32_t cost = node.cost + mainCost[h];
                if (h == kNumPrimaryLengths) {
                    cost += costs.length[len - kMinMatch - kNumPrimaryLengths];
                }
                relax(nodes[k + len], cost, len, j, next);
            }
        }

        unsigned done = 1;
        for (; m != mEnd && done < maxLen; ++m) {
            std::uint32_t offset = matchOffset(*m);
            unsigned len = matchLength(*m) < maxLen ? matchLength(*m) : maxLen;
            if (offset == node.reps.r[0] || offset == node.reps.r[1] || offset == node.reps.r[2]) {
                // The repeated-offset edges above already cover it, cheaper.
                done = len > done ? len : done;
                continue;
            }
            std::uint32_t formatted = offset + 2;
            unsigned slot = slotOf(formatted);
            std::uint32_t priced = node.cost + costs.offsetCost(formatted, slot);
            const std::uint32_t* mainCost = costs.main + kNumChars + slot * 8;
            Repeats next = afterMatch(node.reps, formatted, offset);
            for (unsigned l = done + 1; l <= len; ++l) {
                unsigned h = lengthHeader(l);
                std::uint32_t cost = priced + mainCost[h];
                if (h == kNumPrimaryLengths) {
                    cost += costs.length[l - kMinMatch - kNumPrimaryLengths];
                }
                relax(nodes[k + l], cost, l, formatted, next);
            }
            done = len > done ? len : done;
        }
        ++k;
    }

    // Walk back from the end, then reverse into items.
    unsigned count = 0;
    for (std::uint32_t k = n; k > 0; k -= nodes[k].length) {
        items[count++] = {nodes[k].offset, nodes[k].length};
    }
    for (unsigned i = 0; i < count / 2; ++i) {
        Item t = items[i];
        items[i] = items[count - 1 - i];
        items[count - 1 - i] = t;
    }
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
            if (streamPos % kFrame + len > kFrame) {
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
