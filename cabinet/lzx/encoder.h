// One LZX stream: takes a folder's frames, holds a few back so that blocks can
// span them, and hands out one compressed piece per frame.
//
// How a folder's bytes become CFDATA payloads
//
// 1. Frames in (frame): the writer hands 32 KB frames, the folder's last one
//    shorter. Each is E8-translated in place (e8.cpp) as it arrives, since decoders
//    undo the translation per frame, and copied after the window's history.
// 2. Chunks (encodeChunk): frames wait until kChunkFrames of them and one more have
//    come, or the stream ends. A chunk is the unit every later stage works on: long
//    enough for blocks to span frames and to see where the statistics change, short
//    enough that its matches and parse fit in fixed buffers. The frame after it is the
//    look-ahead the match finder reads into.
// 3. Matches (search, completeMatches, match_finder.cpp): a binary-tree finder over
//    the whole window lists, for every position of the chunk, the longest match in
//    each range of distances, never farther than maxOffset. After a match of
//    niceLength or more the positions it covers are only inserted, not searched: the
//    parser takes such a match whole. A position is searched once the longest match
//    fits in the bytes after it (or the stream has ended), so it may be searched
//    early, on the search thread, with the same result.
// 4. Plan (planChunk, block_split.cpp): one parse with the previous chunk's code
//    lengths (for the stream's first chunk, with those of a parse at guessed prices)
//    gives the symbols of each 4 KB segment. planBlocks then decides where blocks end, a block
//    being worth its trees only where the statistics change enough, and which whole-frame blocks
//    are better stored than compressed.
// 5. Parse (encodeCompressed, parser.cpp): each compressed block is parsed again, as a
//    shortest path priced first with codes built from the plan's counts for its
//    segments, then `passes` times, each pass with the codes the one before produced.
//    The block then becomes verbatim or aligned, whichever is smaller with its trees,
//    or stored where that is smaller still and allowed. Matches never cross a frame.
// 6. Write (writeChunk, block_writer.cpp, tree_coder.cpp): the stream header once,
//    then each block: type, size, its trees as changes against the previous block's
//    lengths, and its symbols; or, for a stored block, its bytes and repeated offsets.
//    The FrameCutter notes where each frame's output ends. A frame that comes out
//    larger than decoders' input buffers take makes the whole chunk be written again
//    as one block per frame, which never exceeds that limit.
// 7. Frames out (emitFrames): each frame's piece goes to the sink as one CFDATA
//    block, in order; the next chunk starts where this one ended.
//
// What decoders need of the stream, and where the encoder sees to it, is listed at
// the top of lzx_format.h.
//
// With a search thread (useSearchThread), the encoder holds back up to a chunk
// more, so that the finder can search the next chunk while this thread parses the
// one before it: pieces then come out later than on one thread, but the same
// pieces in the same order, and all of them by settle() or finish().
#pragma once

#include <cstdint>

#include "../codec.h"
#include "block_split.h"
#include "block_writer.h"
#include "match_finder.h"
#include "parser.h"
#include "search_thread.h"

namespace kp::cab::lzx {

// Frames are encoded a chunk at a time, once the frame after the chunk has come
// (or the stream has ended): the match finder needs bytes beyond the chunk's end.
constexpr unsigned kChunkFrames = 4;
constexpr std::uint32_t kChunkBytes = kChunkFrames * kFrameSize;
constexpr std::uint32_t kLookahead = kFrameSize;
static_assert(kLookahead >= kMaxNiceLength, "the look-ahead covers the finder's longest compare");
// With a search thread: the chunk being parsed, the chunk being searched and its look-ahead.
constexpr unsigned kMaxHeldFrames = 2 * kChunkFrames + 1;
// Frame `frame` (from the stream's start) makes piece `piece` due on one thread:
// a chunk is encoded when the frame after it comes.
constexpr std::uint32_t dueWithFrame(std::uint32_t piece) {
    return (piece / kChunkFrames + 1) * kChunkFrames;
}

// Positions are stream offsets plus the window size, in 32 bits.
constexpr std::uint32_t kMaxStreamBytes = 0x80000000u;
static_assert((std::uint64_t(1) << kMaxWindowBits) + kMaxStreamBytes + kLookahead <=
                  std::uint64_t(0xFFFFFFFFu),
              "every position of the longest stream fits 32 bits");

struct Tuning {
    // Depth 32 is 1.4 KB smaller over the eight 2 MiB test pieces but takes about 8%
    // more time; the default stays within the best open LZX encoder's time, and the
    // effort levels go further.
    unsigned searchDepth = 24; // 1 to kMaxSearchDepth
    unsigned niceLength = 96;  // kMinNiceLength to kMaxNiceLength
    unsigned passes = 1;       // parses per block after the chunk's first, 1 to kMaxPasses
    // A frame's compressed size that decoders' input buffers still take.
    std::uint32_t frameLimit = kMaxBlockData;

    static constexpr unsigned kMaxPasses = 8;
    constexpr bool valid() const {
        return MatchFinder::accepts(searchDepth, niceLength) && passes >= 1 && passes <= kMaxPasses;
    }
};

// What each effort level (1 to KPFCI_MAX_EFFORT in fci.h) asks of the encoder:
// above the default, a deeper search, matches followed further, and more passes.
constexpr Tuning tuningForEffort(unsigned effort) {
    Tuning t;
    if (effort >= 2) {
        t.searchDepth *= 2;
        t.niceLength = t.niceLength * 2 < kMaxNiceLength ? t.niceLength * 2 : kMaxNiceLength;
        t.passes = 2;
    }
    if (effort >= 3) {
        t.searchDepth *= 2;
        t.niceLength = kMaxNiceLength;
        t.passes = 3;
    }
    return t;
}

class Encoder {
public:
    // All memory comes from the allocator; create() returns null when it runs
    // out, or when the tuning is not valid().
    static Encoder* create(unsigned windowBits, const Allocator& memory, const BlockSink& sink,
                           const Tuning& tuning);
    static void destroy(Encoder* encoder);

    // Before the first frame: search on a second thread from now on. False, with
    // the encoder unchanged, when the memory or the thread cannot be had.
    bool useSearchThread();
    // Before the first frame: work with this tuning from now on. False, with the
    // encoder unchanged, when frames have come or the tuning is not valid().
    bool setTuning(const Tuning& tuning);

    int frame(const std::uint8_t* data, std::uint32_t size);
    // Hands out every piece that one thread would have handed out by now.
    int settle();
    int finish();

private:
    // Matches of one chunk, searched in position order, perhaps in several goes.
    struct ChunkCache {
        std::uint32_t* first = nullptr;
        Match* matches = nullptr;
        std::uint32_t start = 0; // the chunk's first position
        std::uint32_t stop = 0;  // after its last, once known; until then a chunk's length on
        std::uint32_t pos = 0;   // next position to search
        std::uint32_t used = 0;
        std::uint32_t skipUntil = 0;
        bool open = false; // searching belongs to this chunk
    };
    struct SearchJob {
        Encoder* encoder;
        ChunkCache* cache;
        std::uint32_t until;
        Span span;
    };
    static void runSearchJob(void* job);

    void ingest(const std::uint8_t* data, std::uint32_t size);
    // Chunks take the caches in turn, counted from the stream's start.
    unsigned cacheIndex(std::uint32_t chunkStart) const {
        return (chunkStart - streamStart_) / kChunkBytes % cacheCount_;
    }
    ChunkCache& cacheFor(std::uint32_t chunkStart);
    std::uint32_t searchableEnd(const ChunkCache& cache) const;
    void search(ChunkCache& cache, std::uint32_t until, const Span& span);
    void completeMatches();
    void feedSearchThread();
    void waitSearchThread();

    bool allocate();
    void startStream();
    int encodeChunk(unsigned frames, bool last);
    void planChunk(bool last, BlockPlan& plan);
    int writeChunk(unsigned frames, bool last, BlockPlan& plan);
    int frameBeforeShortLast(unsigned frames, bool last) const;
    bool lastFrameSized(unsigned frames, bool last, const FrameCutter& cutter) const;
    bool splitBeforeLastFrame(unsigned frames, bool last, unsigned attempt, BlockPlan& plan) const;
    int emitFrames(unsigned frames);
    Parser chunkParser() const;
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
    unsigned pendingFrames_ = 0;   // received, not yet encoded: at most kMaxHeldFrames
    bool sawShortFrame_ = false;
    bool streamEnded_ = false; // end_ is the stream's end
    bool headerWritten_ = false;
    std::uint64_t streamOut_ = 0; // bytes of the stream handed to the sink
    // Ends of the pending frames in the stream; past the chunk being encoded,
    // the look-ahead's end or a mark that no position reaches.
    std::uint32_t frameEnds_[kMaxHeldFrames] = {};
    std::uint32_t cuts_[kChunkFrames] = {};

    MatchFinder finder_{};
    void* finderMemory_ = nullptr;
    // One chunk's matches, or two with a search thread: chunks alternate between them.
    ChunkCache caches_[2]{};
    unsigned cacheCount_ = 1;
    std::uint32_t cacheCapacity_ = 0; // matches per chunk
    SearchThread* searcher_ = nullptr;
    SearchJob job_{};
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
