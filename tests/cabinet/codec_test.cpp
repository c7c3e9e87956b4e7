// Each codec alone, behind the interface the writer uses.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "codec.h"
#include "fci_client.h"

namespace {
using namespace kp::cab;

struct Block {
    std::vector<std::uint8_t> data;
    std::uint32_t uncompressed;
};

struct Recorder {
    std::vector<Block> blocks;
    long live = 0;
    int stopAfter = -1;
};

void* countingAlloc(void* opaque, std::size_t n) {
    ++static_cast<Recorder*>(opaque)->live;
    return std::malloc(n);
}
void countingFree(void* opaque, void* p) {
    if (p) {
        --static_cast<Recorder*>(opaque)->live;
    }
    std::free(p);
}
int record(void* opaque, const std::uint8_t* data, std::uint32_t c, std::uint32_t u) {
    auto* r = static_cast<Recorder*>(opaque);
    if (int(r->blocks.size()) == r->stopAfter) {
        return 77;
    }
    r->blocks.push_back({std::vector<std::uint8_t>(data, data + c), u});
    return 0;
}

// Compresses `input` as one folder and returns the recorded blocks.
std::vector<Block> runCodec(const CodecOps& ops, const std::vector<std::uint8_t>& input,
                            Recorder& r) {
    void* state = nullptr;
    EXPECT_EQ(
        ops.create(0, Allocator{countingAlloc, countingFree, &r}, BlockSink{record, &r}, &state),
        codecOk);
    for (std::size_t at = 0; at < input.size(); at += kFrameSize) {
        std::uint32_t n = std::uint32_t(std::min<std::size_t>(kFrameSize, input.size() - at));
        EXPECT_EQ(ops.frame(state, input.data() + at, n), codecOk);
    }
    EXPECT_EQ(ops.finish(state), codecOk);
    ops.destroy(state);
    EXPECT_EQ(r.live, 0) << "every allocation is released";
    return r.blocks;
}

// Inflates MSZIP blocks the way a cabinet reader does: each block is "CK" and a
// deflate stream whose window is the previous block.
std::vector<std::uint8_t> inflateMszip(const std::vector<Block>& blocks) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> history;
    for (const Block& b : blocks) {
        EXPECT_GE(b.data.size(), 2u);
        EXPECT_EQ(b.data[0], 'C');
        EXPECT_EQ(b.data[1], 'K');
        z_stream zs{};
        EXPECT_EQ(inflateInit2(&zs, -MAX_WBITS), Z_OK);
        if (!history.empty()) {
            EXPECT_EQ(inflateSetDictionary(&zs, history.data(), uInt(history.size())), Z_OK);
        }
        std::vector<std::uint8_t> frame(kFrameSize);
        zs.next_in = const_cast<Bytef*>(b.data.data() + 2);
        zs.avail_in = uInt(b.data.size() - 2);
        zs.next_out = frame.data();
        zs.avail_out = kFrameSize;
        EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END) << "each block ends its deflate stream";
        frame.resize(kFrameSize - zs.avail_out);
        EXPECT_EQ(frame.size(), b.uncompressed);
        inflateEnd(&zs);
        out.insert(out.end(), frame.begin(), frame.end());
        history = frame;
    }
    return out;
}

TEST(MszipCodec, BlocksInflateWithThePreviousBlockAsWindow) {
    // Random data, so that only long matches pay. The second frame is the first
    // frame's second half twice: its start can only be matched through the history
    // carried over from the first frame.
    auto first = kp::test::randomBytes(kFrameSize, 1);
    std::vector<std::uint8_t> input = first;
    for (int copy = 0; copy < 2; ++copy) {
        input.insert(input.end(), first.begin() + kFrameSize / 2, first.end());
    }
    input.push_back('!');
    Recorder r;
    auto blocks = runCodec(mszipCodec, input, r);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(inflateMszip(blocks), input);
    EXPECT_LT(blocks[1].data.size(), kFrameSize / 20)
        << "the second frame should be almost all matches into the first";
}

TEST(MszipCodec, IncompressibleFramesStayWithinAStoredBlock) {
    auto input = kp::test::randomBytes(3 * kFrameSize + 5, 7);
    Recorder r;
    auto blocks = runCodec(mszipCodec, input, r);
    ASSERT_EQ(blocks.size(), 4u);
    for (const Block& b : blocks) {
        EXPECT_LE(b.data.size(), b.uncompressed + 7u);
    }
    EXPECT_EQ(inflateMszip(blocks), input);
}

TEST(Codecs, SinkRefusalStopsTheCodecWithItsValue) {
    for (const CodecOps* ops : {&storeCodec, &mszipCodec}) {
        Recorder r;
        r.stopAfter = 1;
        void* state = nullptr;
        ASSERT_EQ(ops->create(0, Allocator{countingAlloc, countingFree, &r}, BlockSink{record, &r},
                              &state),
                  codecOk);
        auto input = kp::test::textBytes(kFrameSize, 3);
        EXPECT_EQ(ops->frame(state, input.data(), kFrameSize), codecOk) << ops->name;
        EXPECT_EQ(ops->frame(state, input.data(), kFrameSize), 77) << ops->name;
        ops->destroy(state);
        EXPECT_EQ(r.live, 0) << ops->name;
    }
}

TEST(Codecs, StoreKeepsFramesAsTheyAre) {
    auto input = kp::test::randomBytes(kFrameSize + 100, 9);
    Recorder r;
    auto blocks = runCodec(storeCodec, input, r);
    ASSERT_EQ(blocks.size(), 2u);
    std::vector<std::uint8_t> joined = blocks[0].data;
    joined.insert(joined.end(), blocks[1].data.begin(), blocks[1].data.end());
    EXPECT_EQ(joined, input);
}

TEST(Codecs, TcompSelectsCodecOrRefuses) {
    unsigned window = 99;
    EXPECT_EQ(codecFor(tcompTYPE_NONE, &window), &storeCodec);
    EXPECT_EQ(codecFor(tcompTYPE_MSZIP, &window), &mszipCodec);
    EXPECT_EQ(codecFor(tcompTYPE_QUANTUM, &window), nullptr);
    EXPECT_EQ(codecFor(tcompBAD, &window), nullptr);
    EXPECT_EQ(codecFor(tcompTYPE_MSZIP | tcompMASK_RESERVED, &window), nullptr);
}

} // namespace
