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

constexpr unsigned kChunkFrames = 4;
constexpr std::uint32_t kChunkBytes = kChunkFrames * kFrameSize;

struct Tuning {
    unsigned searchDepth = 20;
    unsigned niceLength = 48;
    unsigned passes = 1; // parses per block after the chunk's first
    // A frame's compressed size that decoders' input buffers still take.
    std::uint32_t frameLimit = kMaxBlockData;
};

class Encoder {
public:
    // All memory comes from the allocator; create() returns null when it runs out.
    static Encoder* create(unsigned windowBits, const Allocator& memory, const BlockSink& sink,
                           const Tuning& tuning);
    static void destroy(Encoder* encoder);

    int frame(const std::uint8_t* data, std::uint32_t size);
    int finish();

private:
    bool allocate();
    void startStream();
    int encodeChunk(bool last);
    void findMatches(std::uint32_t start, std::uint32_t end);
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
    std::uint32_t chunkStart_ = 0;
    unsigned pendingFrames_ = 0;
    bool sawShortFrame_ = false;
    bool headerWritten_ = false;
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
