// The LZX codec alone, behind the interface the writer drives: memory, the sink's
// answers and the frame contract.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "codec.h"
#include "fci_client.h"
#include "lzx/lzx_format.h"

namespace {
using namespace kp::cab;
using namespace kp::cab::lzx;

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
        auto input = kp::test::randomBytes(frames * kp::cab::kFrameSize + tail, 3);
        if (frames == 9) {
            auto text = kp::test::textBytes(3 * kp::cab::kFrameSize, 4);
            std::copy(text.begin(), text.end(), input.begin() + 2 * kp::cab::kFrameSize);
        }
        for (std::size_t at = 0; at < input.size(); at += kp::cab::kFrameSize) {
            auto n = std::uint32_t(std::min<std::size_t>(kp::cab::kFrameSize, input.size() - at));
            ASSERT_EQ(lzxCodec.frame(s, input.data() + at, n), codecOk);
        }
        ASSERT_EQ(lzxCodec.finish(s), codecOk);
        lzxCodec.destroy(s);
        EXPECT_EQ(h.live, 0);
        ASSERT_EQ(h.sizes.size(), frames + 1) << "every frame is out by finish()";
        for (std::size_t i = 0; i < h.sizes.size(); ++i) {
            EXPECT_EQ(h.sizes[i], i < frames ? kp::cab::kFrameSize : tail);
            EXPECT_LE(h.blocks[i].size(), kMaxBlockData);
            // Also rules out an uncompressed block of odd length at the stream's
            // end, whose missing pad byte not every decoder forgives.
            EXPECT_EQ(h.blocks[i].size() % 2, 0u) << "frames end on a 16-bit boundary";
        }
        if (frames == 9) {
            EXPECT_LT(h.blocks[3].size(), kp::cab::kFrameSize / 3) << "the text frames compress";
        }
    }
}

TEST(LzxCodec, SinkRefusalStopsTheCodecWithItsValue) {
    Harness h;
    h.refuseAt = 1;
    void* s = nullptr;
    ASSERT_EQ(h.create(&s), codecOk);
    auto input = kp::test::textBytes(6 * kp::cab::kFrameSize, 2);
    int rc = codecOk;
    for (std::size_t at = 0; at < input.size() && rc == codecOk; at += kp::cab::kFrameSize) {
        rc = lzxCodec.frame(s, input.data() + at, kp::cab::kFrameSize);
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
    std::vector<std::uint8_t> data(kp::cab::kFrameSize, 'x');
    EXPECT_EQ(lzxCodec.frame(s, data.data(), 100), codecOk);
    EXPECT_NE(lzxCodec.frame(s, data.data(), kp::cab::kFrameSize), codecOk);
    EXPECT_NE(lzxCodec.frame(s, data.data(), 0), codecOk);
    lzxCodec.destroy(s);
    EXPECT_EQ(h.live, 0);
}

} // namespace
