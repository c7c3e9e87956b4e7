// One LZX stream: takes a folder's frames, holds a few back so that blocks can
// span them, and hands out one compressed piece per frame.
#pragma once

#include <cstdint>

#include "../codec.h"
#include "block_split.h"
#include "block_writer.h"
#include "match_finder.h"
#include "parser.h"

namespace kp::cab::lzx {

// Frames are encoded a chunk at a time, once the frame after the chunk has come
// (or the stream has ended): the match finder needs bytes beyond the chunk's end.
constexpr unsigned kChunkFrames = 4;
constexpr std::uint32_t kChunkBytes = kChunkFrames * kFrameSize;
constexpr std::uint32_t kLookahead = kFrameSize;
static_assert(kLookahead >= kMaxNiceLength, "the look-ahead covers the finder's longest compare");

// Positions are stream offsets plus the window size, in 32 bits.
constexpr std::uint32_t kMaxStreamBytes = 0x80000000u;
static_assert((std::uint64_t(1) << kMaxWindowBits) + kMaxStreamBytes + kLookahead <=
                  std::uint64_t(0xFFFFFFFFu),
              "every position of the longest stream fits 32 bits");

struct Tuning {
    unsigned searchDepth = 20; // 1 to kMaxSearchDepth
    unsigned niceLength = 48;  // kMinNiceLength to kMaxNiceLength
    unsigned passes = 1;       // parses per block after the chunk's first, 1 to kMaxPasses
    // A frame's compressed size that decoders' input buffers still take.
    std::uint32_t frameLimit = kMaxBlockData;

    static constexpr unsigned kMaxPasses = 8;
    constexpr bool valid() const {
        return MatchFinder::accepts(searchDepth, niceLength) && passes >= 1 && passes <= kMaxPasses;
    }
};

class Encoder {
public:
    // All memory comes from the allocator; create() returns null when it runs
    // out, or when the tuning is not valid().
    static Encoder* create(unsigned windowBits, const Allocator& memory, const BlockSink& sink,
                           const Tuning& tuning);
    static void destroy(Encoder* encoder);

    int frame(const std::uint8_t* data, std::uint32_t size);
    int finish();

private:
    bool allocate();
    void startStream();
    int encodeChunk(unsigned frames, bool last);
    void planChunk(bool last, BlockPlan& plan);
    void writeChunk(unsigned frames, bool last, BlockPlan& plan);
    int emitFrames(unsigned frames);
    Parser chunkParser() const;
    void findMatches(std::uint32_t start, std::uint32_t stop, bool streamEnds);
    void measureSegments(std::uint32_t start, const Item* items, unsigned count, Segments& seg);
    void encodeBlocks(BitWriter& out, FrameCutter& cutter, const BlockPlan& plan, bool last);
    void encodeCompressed(BitWriter& out, FrameCutter& cutter, std::uint32_t from, std::uint32_t to,
                          bool storable);
    bool storableEnd(std::uint32_t end, bool last) const;
    unsigned segmentAt(std::uint32_t pos) const;

    Allocator memory_;
    BlockSink sink_;
    Tuning tuning_;
    unsigned windowBits_ = 0;
    unsigned numMain_ = 0;
    std::uint32_t window_ = 0;

    // Input: positions are stream offsets plus the window size.
    std::uint8_t* data_ = nullptr;
    std::uint32_t dataCapacity_ = 0;
    std::uint32_t base_ = 0; // position of data_[0]
    std::uint32_t end_ = 0;  // position after the last byte received
    std::uint32_t streamStart_ = 0;
    std::uint32_t chunkStart_ = 0; // position of the first frame not yet encoded
    std::uint32_t chunkEnd_ = 0;   // end of the chunk being encoded
    unsigned pendingFrames_ = 0;   // received, not yet encoded: at most a chunk and one more
    bool sawShortFrame_ = false;
    bool headerWritten_ = false;
    // Ends of the pending frames in the stream; past the chunk being encoded,
    // the look-ahead's end or a mark that no position reaches.
    std::uint32_t frameEnds_[kChunkFrames + 1] = {};
    std::uint32_t cuts_[kChunkFrames] = {};

    MatchFinder finder_{};
    void* finderMemory_ = nullptr;
    std::uint32_t* cacheFirst_ = nullptr;
    Match* cacheMatches_ = nullptr;
    std::uint32_t cacheCapacity_ = 0;
    ParseNode* nodes_ = nullptr;
    Item* items_ = nullptr;
    Symbols* cumulative_ = nullptr;
    Segments segments_{};
    Symbols* symbols_ = nullptr;
    Codes* codes_ = nullptr;
    CostModel* model_ = nullptr;
    bool haveModel_ = false;
    TreeHistory* history_ = nullptr;
    TreeHistory* savedHistory_ = nullptr;
    Repeats reps_{};
    std::uint8_t* out_ = nullptr;
    std::uint32_t outCapacity_ = 0;
};

} // namespace kp::cab::lzx
