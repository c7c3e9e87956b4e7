// The parts of the LZX encoder that can be wrong on their own: code lengths,
// the pretree coding of tree changes, bit order, call translation, and the
// codec's contract with the writer.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "codec.h"
#include "fci_client.h"
#include "lzx/bit_writer.h"
#include "lzx/block_writer.h"
#include "lzx/e8.h"
#include "lzx/huffman.h"
#include "lzx/lzx_format.h"
#include "lzx/tree_coder.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

// Kraft sum scaled by 2^16; a complete code sums to exactly 65536.
std::uint64_t kraft(const std::vector<std::uint8_t>& lengths) {
    std::uint64_t sum = 0;
    for (auto l : lengths) {
        if (l) {
            sum += std::uint64_t(1) << (16 - l);
        }
    }
    return sum;
}

std::vector<std::uint8_t> lengthsFor(const std::vector<std::uint32_t>& freq, unsigned limit) {
    std::vector<std::uint8_t> lengths(freq.size());
    buildCodeLengths(freq.data(), unsigned(freq.size()), limit, lengths.data());
    return lengths;
}

TEST(LzxHuffman, SkewedFrequenciesStayWithinTheLimitAndComplete) {
    // Fibonacci weights would need codes as long as the alphabet without a limit.
    struct Case {
        unsigned symbols;
        unsigned limit;
    };
    for (Case c : {Case{656, 16}, Case{249, 16}, Case{20, 15}, Case{8, 7}}) {
        std::vector<std::uint32_t> freq(c.symbols);
        std::uint32_t a = 1, b = 1;
        for (unsigned i = 0; i < c.symbols; ++i) {
            freq[i] = a;
            std::uint32_t next = a + b > 50000000 ? 50000000 : a + b;
            a = b;
            b = next;
        }
        auto lengths = lengthsFor(freq, c.limit);
        for (unsigned i = 0; i < c.symbols; ++i) {
            ASSERT_GE(lengths[i], 1) << "symbol " << i << " is used";
            ASSERT_LE(lengths[i], c.limit);
            if (i > 0 && freq[i] > freq[i - 1]) {
                EXPECT_LE(lengths[i], lengths[i - 1]) << "a more frequent symbol never gets longer";
            }
        }
        EXPECT_EQ(kraft(lengths), 65536u) << c.symbols << " symbols";
    }
}

TEST(LzxHuffman, NoneOrOneUsedSymbolStillMakesACompleteCode) {
    std::vector<std::uint32_t> none(249, 0);
    auto l0 = lengthsFor(none, 16);
    EXPECT_EQ(kraft(l0), 65536u);
    std::vector<std::uint32_t> one(656, 0);
    one[300] = 12345;
    auto l1 = lengthsFor(one, 16);
    EXPECT_EQ(l1[300], 1);
    EXPECT_EQ(kraft(l1), 65536u);
}

TEST(LzxHuffman, RandomFrequenciesGiveCompletePrefixFreeCodes) {
    auto noise = kp::test::randomBytes(656 * 4 * 20, 5);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint32_t> freq(656);
        for (unsigned i = 0; i < 656; ++i) {
            std::uint32_t v;
            std::memcpy(&v, &noise[(round * 656 + i) * 4], 4);
            // Many unused symbols and a wide spread of counts.
            freq[i] = (v & 3) == 0 ? 0 : (v >> 8) % (1u << ((v & 31) % 20 + 1));
        }
        auto lengths = lengthsFor(freq, 16);
        std::vector<std::uint16_t> codes(656);
        assignCodes(lengths.data(), 656, codes.data());
        EXPECT_EQ(kraft(lengths), 65536u);
        for (unsigned i = 0; i < 656; ++i) {
            if (freq[i]) {
                EXPECT_GT(lengths[i], 0) << "used symbol " << i << " has a code";
            }
            for (unsigned j = 0; j < 656 && lengths[i]; ++j) {
                if (i != j && lengths[j] >= lengths[i]) {
                    ASSERT_NE(codes[j] >> (lengths[j] - lengths[i]), codes[i])
                        << "code of " << i << " is a prefix of the code of " << j;
                }
            }
        }
    }
}

// Reads what BitWriter wrote: 16-bit little-endian words, high bit first.
class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    unsigned bit() {
        std::size_t word = pos_ / 16;
        unsigned w = bytes_[2 * word] | bytes_[2 * word + 1] << 8;
        unsigned b = (w >> (15 - pos_ % 16)) & 1;
        ++pos_;
        return b;
    }
    unsigned bits(unsigned n) {
        unsigned v = 0;
        while (n--) {
            v = v << 1 | bit();
        }
        return v;
    }
    // Canonical decoding, one bit at a time.
    unsigned symbol(const std::uint8_t* lengths, const std::uint16_t* codes, unsigned n) {
        unsigned code = 0;
        for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
            code = code << 1 | bit();
            for (unsigned s = 0; s < n; ++s) {
                if (lengths[s] == len && codes[s] == code) {
                    return s;
                }
            }
        }
        ADD_FAILURE() << "no symbol decodes";
        return 0;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
};

TEST(LzxBits, WordsAreLittleEndianWithTheFirstBitOnTop) {
    std::vector<std::uint8_t> out(8);
    BitWriter w(out.data(), out.size());
    w.put(1, 1);
    w.alignToWord();
    w.put(0x1ABCD, 17); // wider than a word
    w.alignToWord();
    EXPECT_EQ(w.size(), 6u);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x80);
    // 1 1010 1011 1100 1101 then 15 zero bits: words 0xD5E6, 0x8000.
    EXPECT_EQ(out[2], 0xE6);
    EXPECT_EQ(out[3], 0xD5);
    EXPECT_EQ(out[4], 0x00);
    EXPECT_EQ(out[5], 0x80);
    w.alignToWord();
    EXPECT_EQ(w.size(), 6u) << "aligning at a boundary adds nothing";
}

// The widest put after the most bits a word can leave waiting, and puts whose
// value has bits above their count, which must not leak into the stream.
TEST(LzxBits, EveryBitSurvivesTheWidestPutAndStrayHighBitsAreDropped) {
    for (unsigned waiting = 0; waiting < 16; ++waiting) {
        std::vector<std::uint8_t> out(16);
        BitWriter w(out.data(), out.size());
        std::uint32_t lead = 0x5A5Au & ((1u << waiting) - 1);
        w.put(lead | 0xFFFF0000u, waiting);
        w.put(0xDEADBEEFu, BitWriter::kMaxPutBits);
        w.put(0xFFFFFFF8u | 5u, 3);
        w.put(0, 1);
        w.alignToWord();
        ASSERT_FALSE(w.overflowed());
        BitReader r(out);
        EXPECT_EQ(r.bits(waiting), lead) << waiting;
        EXPECT_EQ(r.bits(16), 0xDEADu) << waiting;
        EXPECT_EQ(r.bits(16), 0xBEEFu) << waiting;
        EXPECT_EQ(r.bits(4), 0xAu) << waiting;
        EXPECT_EQ(w.bitCount(), (waiting + 36 + 15) / 16 * 16u) << waiting;
    }
}

TEST(LzxBits, OverflowIsReportedNotWritten) {
    std::vector<std::uint8_t> out(4, 0xAA);
    BitWriter w(out.data(), 2);
    w.put(0xFFFF, 16);
    w.put(0xFFFF, 16);
    EXPECT_TRUE(w.overflowed());
    EXPECT_EQ(out[2], 0xAA);
}

// Decodes one writeLengths range the way libmspack does (19 repeats the delta
// taken against the first old length).
std::vector<std::uint8_t> readLengths(BitReader& in, const std::vector<std::uint8_t>& previous) {
    std::uint8_t pre[kNumPretreeSymbols];
    for (auto& l : pre) {
        l = std::uint8_t(in.bits(4));
    }
    std::uint16_t codes[kNumPretreeSymbols];
    assignCodes(pre, kNumPretreeSymbols, codes);
    std::vector<std::uint8_t> out(previous.size());
    for (std::size_t i = 0; i < out.size();) {
        unsigned s = in.symbol(pre, codes, kNumPretreeSymbols);
        if (s == 17 || s == 18) {
            unsigned run = s == 17 ? 4 + in.bits(4) : 20 + in.bits(5);
            for (unsigned k = 0; k < run; ++k) {
                out.at(i++) = 0;
            }
        } else if (s == 19) {
            unsigned run = 4 + in.bits(1);
            unsigned d = in.symbol(pre, codes, kNumPretreeSymbols);
            EXPECT_LE(d, 16u);
            std::uint8_t v = std::uint8_t((previous[i] + 17 - d) % 17);
            for (unsigned k = 0; k < run; ++k) {
                EXPECT_EQ(previous.at(i), previous[i - k])
                    << "19 is used only where every reading of it agrees";
                out.at(i++) = v;
            }
        } else {
            out[i] = std::uint8_t((previous[i] + 17 - s) % 17);
            ++i;
        }
    }
    return out;
}

TEST(LzxPretree, LengthsSurviveDeltaCodingAgainstThePreviousBlock) {
    auto noise = kp::test::randomBytes(40000, 9);
    std::size_t at = 0;
    std::vector<std::uint8_t> previous(656, 0); // a new stream starts from zero
    for (int block = 0; block < 30; ++block) {
        std::vector<std::uint8_t> lengths(656);
        // Runs of zeros, runs of equal lengths, and scattered values.
        for (std::size_t i = 0; i < lengths.size();) {
            unsigned kind = noise[at++] % 4;
            unsigned run = 1 + noise[at++] % 60;
            std::uint8_t v = std::uint8_t(noise[at++] % 17);
            for (unsigned k = 0; k < run && i < lengths.size(); ++k, ++i) {
                lengths[i] = kind == 0 ? 0 : kind == 1 ? v : std::uint8_t(noise[at++] % 17);
            }
        }
        if (block % 7 == 3) {
            lengths = previous; // an unchanged tree
        }
        std::vector<std::uint8_t> out(4096);
        BitWriter w(out.data(), out.size());
        std::uint64_t bits = writeLengths(w, lengths.data(), previous.data(), 656);
        EXPECT_EQ(bits, lengthsCost(lengths.data(), previous.data(), 656));
        w.alignToWord();
        ASSERT_FALSE(w.overflowed());
        BitReader r(out);
        EXPECT_EQ(readLengths(r, previous), lengths) << "block " << block;
        previous = lengths;
    }
}

// libmspack, wimlib and Windows skip one to sixteen bits before the stored
// repeated offsets, never none: a header that ends on a word boundary is
// followed by a whole zero word.
TEST(LzxUncompressedBlock, PaddingIsOneToSixteenBits) {
    for (unsigned lead : {0u, 5u, 6u}) {
        std::vector<std::uint8_t> out(64);
        BitWriter w(out.data(), out.size());
        w.put(0, lead);
        std::uint32_t ends[] = {3, 0xFFFFFFFFu};
        std::uint32_t cuts[1] = {};
        FrameCutter cutter{ends, cuts, 0};
        const std::uint8_t raw[3] = {0xAA, 0xBB, 0xCC};
        Repeats reps{{0x01020304u, 5, 6}};
        writeUncompressedBlock(w, cutter, raw, 0, 3, reps);
        unsigned headerBits = lead + 27;
        std::size_t r0 = headerBits % 16 == 0 ? headerBits / 8 + 2 : (headerBits + 15) / 16 * 2;
        ASSERT_EQ(cuts[0], r0 + 12 + 3) << "lead " << lead << ": cut after the third raw byte";
        EXPECT_EQ(out[r0], 0x04) << "lead " << lead;
        EXPECT_EQ(out[r0 + 3], 0x01);
        EXPECT_EQ(out[r0 + 4], 5);
        EXPECT_EQ(out[r0 + 8], 6);
        EXPECT_EQ(out[r0 + 12], 0xAA);
        EXPECT_EQ(out[r0 + 14], 0xCC);
        BitReader r(out);
        r.bits(lead);
        EXPECT_EQ(r.bits(3), unsigned(kUncompressed));
        EXPECT_EQ(r.bits(24), 3u);
        unsigned padBits = unsigned(r0 * 8) - headerBits;
        EXPECT_GE(padBits, 1u);
        EXPECT_LE(padBits, 16u);
        EXPECT_EQ(r.bits(padBits), 0u);
        EXPECT_EQ(w.size(), r0 + 12 + 4) << "an odd block gets its pad byte";
        // What block planning charges for a stored block is what the writer adds
        // when the padding is longest, and never less.
        std::uint64_t overhead = w.bitCount() - lead - 8 * (3 + 1);
        EXPECT_LE(overhead, kUncompressedOverheadBits) << "lead " << lead;
        EXPECT_EQ(overhead == kUncompressedOverheadBits, padBits == 16) << "lead " << lead;
    }
}

std::vector<std::uint8_t> call(std::int32_t operand) {
    auto u = std::uint32_t(operand);
    return {0xE8, std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
            std::uint8_t(u >> 24)};
}

std::int32_t operandAt(const std::vector<std::uint8_t>& v, std::size_t at) {
    return std::int32_t(v[at] | v[at + 1] << 8 | v[at + 2] << 16 | std::uint32_t(v[at + 3]) << 24);
}

TEST(LzxE8, CallTargetsBecomeAbsoluteInsideTheTranslatedRange) {
    const std::int32_t size = 12000000;
    std::vector<std::uint8_t> frame(64, 0x90);
    auto put = [&](std::size_t at, std::int32_t operand) {
        auto c = call(operand);
        std::copy(c.begin(), c.end(), frame.begin() + long(at));
    };
    put(0, 0x10);         // forward: absolute = position + relative
    put(5, -3);           // backward within the stream
    put(10, -100000);     // before the stream's start: untouched
    put(15, size - 1000); // lands past the translation size from here: wraps negative
    put(20, size);        // outside the range: untouched
    put(50, 7);           // starts in the last ten bytes... of a 60-byte frame: untouched
    const std::uint32_t offset = 70000;
    e8Translate(frame.data(), 60, offset, size);
    EXPECT_EQ(operandAt(frame, 1), std::int32_t(offset) + 0x10);
    EXPECT_EQ(operandAt(frame, 6), std::int32_t(offset) + 5 - 3);
    EXPECT_EQ(operandAt(frame, 11), -100000);
    EXPECT_EQ(operandAt(frame, 16), size - 1000 - size);
    EXPECT_EQ(operandAt(frame, 21), size);
    EXPECT_EQ(operandAt(frame, 51), 7);
}

TEST(LzxE8, ShortFramesAndFramesPastTheLimitStayAsTheyAre) {
    auto c = call(0x20);
    std::vector<std::uint8_t> ten(c.begin(), c.end());
    ten.resize(10, 0);
    auto before = ten;
    e8Translate(ten.data(), 10, 0, 12000000);
    EXPECT_EQ(ten, before);
    std::vector<std::uint8_t> frame(100, 0);
    std::copy(c.begin(), c.end(), frame.begin());
    auto original = frame;
    e8Translate(frame.data(), 100, 32768u * 32768u, 12000000);
    EXPECT_EQ(frame, original) << "frame 32768 and later are never translated";
    e8Translate(frame.data(), 100, 32767u * 32768u, 12000000);
    EXPECT_NE(frame, original) << "frame 32767 still is";
}

TEST(LzxTcomp, WindowBitsComeFromTheHighByte) {
    for (unsigned w = 15; w <= 21; ++w) {
        unsigned bits = 0;
        EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(w)), &bits), &lzxCodec);
        EXPECT_EQ(bits, w);
    }
    unsigned bits = 0;
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(14)), &bits), nullptr);
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(22)), &bits), nullptr);
    EXPECT_EQ(codecFor(TCOMP(TCOMPfromLZXWindow(21) | tcompMASK_RESERVED), &bits), nullptr);
    EXPECT_EQ(slotsForWindow(15), 30u);
    EXPECT_EQ(slotsForWindow(19), 38u);
    EXPECT_EQ(slotsForWindow(20), 42u);
    EXPECT_EQ(slotsForWindow(21), 50u);
}

TEST(LzxSlots, EveryOffsetFallsInsideItsSlot) {
    for (unsigned w = 15; w <= 21; ++w) {
        std::uint32_t top = maxOffset(w) + 2;
        EXPECT_EQ(slotOf(top), slotsForWindow(w) - 1) << "window " << w;
    }
    for (std::uint32_t f = 0; f < (1u << 21); f += f < 4096 ? 1 : 97) {
        unsigned s = slotOf(f);
        ASSERT_GE(f, slotBase(s));
        ASSERT_LT(f, slotBase(s) + (1u << slotExtraBits(s))) << f;
    }
}

// The codec alone: memory, the sink's answers and the frame contract.
struct Harness {
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<std::uint32_t> sizes;
    long live = 0;
    int allocsLeft = -1; // fail when it reaches zero
    int refuseAt = -1;

    static void* alloc(void* o, std::size_t n) {
        auto* h = static_cast<Harness*>(o);
        if (h->allocsLeft == 0) {
            return nullptr;
        }
        --h->allocsLeft;
        ++h->live;
        return std::malloc(n);
    }
    static void release(void* o, void* p) {
        --static_cast<Harness*>(o)->live;
        std::free(p);
    }
    static int emit(void* o, const std::uint8_t* d, std::uint32_t c, std::uint32_t u) {
        auto* h = static_cast<Harness*>(o);
        if (int(h->blocks.size()) == h->refuseAt) {
            return 1234;
        }
        h->blocks.emplace_back(d, d + c);
        h->sizes.push_back(u);
        return 0;
    }
    int create(void** state, unsigned window = 16) {
        return lzxCodec.create(window, Allocator{alloc, release, this}, BlockSink{emit, this},
                               state);
    }
};

TEST(LzxCodec, OneBlockPerFrameAndNoneLargerThanDecodersAccept) {
    // The second input's one-byte last frame completes a group of held-back
    // frames; it must still be treated as the stream's end.
    for (std::uint32_t frames : {9u, 3u}) {
        Harness h;
        void* s = nullptr;
        ASSERT_EQ(h.create(&s), codecOk);
        std::uint32_t tail = frames == 9 ? 5 : 1;
        auto input = kp::test::randomBytes(frames * kFrameSize + tail, 3);
        if (frames == 9) {
            auto text = kp::test::textBytes(3 * kFrameSize, 4);
            std::copy(text.begin(), text.end(), input.begin() + 2 * kFrameSize);
        }
        for (std::size_t at = 0; at < input.size(); at += kFrameSize) {
            auto n = std::uint32_t(std::min<std::size_t>(kFrameSize, input.size() - at));
            ASSERT_EQ(lzxCodec.frame(s, input.data() + at, n), codecOk);
        }
        ASSERT_EQ(lzxCodec.finish(s), codecOk);
        lzxCodec.destroy(s);
        EXPECT_EQ(h.live, 0);
        ASSERT_EQ(h.sizes.size(), frames + 1) << "every frame is out by finish()";
        for (std::size_t i = 0; i < h.sizes.size(); ++i) {
            EXPECT_EQ(h.sizes[i], i < frames ? kFrameSize : tail);
            EXPECT_LE(h.blocks[i].size(), kMaxBlockData);
            // Also rules out an uncompressed block of odd length at the stream's
            // end, whose missing pad byte not every decoder forgives.
            EXPECT_EQ(h.blocks[i].size() % 2, 0u) << "frames end on a 16-bit boundary";
        }
        if (frames == 9) {
            EXPECT_LT(h.blocks[3].size(), kFrameSize / 3) << "the text frames compress";
        }
    }
}

TEST(LzxCodec, SinkRefusalStopsTheCodecWithItsValue) {
    Harness h;
    h.refuseAt = 1;
    void* s = nullptr;
    ASSERT_EQ(h.create(&s), codecOk);
    auto input = kp::test::textBytes(6 * kFrameSize, 2);
    int rc = codecOk;
    for (std::size_t at = 0; at < input.size() && rc == codecOk; at += kFrameSize) {
        rc = lzxCodec.frame(s, input.data() + at, kFrameSize);
    }
    if (rc == codecOk) {
        rc = lzxCodec.finish(s);
    }
    EXPECT_EQ(rc, 1234);
    EXPECT_EQ(h.blocks.size(), 1u);
    lzxCodec.destroy(s);
    EXPECT_EQ(h.live, 0);
}

TEST(LzxCodec, RunningOutOfMemoryAtAnyAllocationLeaksNothing) {
    for (int n = 0; n < 20; ++n) {
        Harness h;
        h.allocsLeft = n;
        void* s = nullptr;
        int rc = h.create(&s, 21);
        if (rc == codecOk) {
            lzxCodec.destroy(s);
            EXPECT_GT(n, 5) << "creation needs several blocks of memory";
            break;
        }
        EXPECT_EQ(rc, codecNoMemory);
        EXPECT_EQ(h.live, 0) << "after " << n << " allocations";
    }
}

TEST(LzxCodec, AFrameAfterTheShortLastFrameIsRefused) {
    Harness h;
    void* s = nullptr;
    ASSERT_EQ(h.create(&s), codecOk);
    std::vector<std::uint8_t> data(kFrameSize, 'x');
    EXPECT_EQ(lzxCodec.frame(s, data.data(), 100), codecOk);
    EXPECT_NE(lzxCodec.frame(s, data.data(), kFrameSize), codecOk);
    EXPECT_NE(lzxCodec.frame(s, data.data(), 0), codecOk);
    lzxCodec.destroy(s);
    EXPECT_EQ(h.live, 0);
}

} // namespace
