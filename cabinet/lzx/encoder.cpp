#include "encoder.h"

#include <cstring>
#include <iterator>
#include <new>

#include "e8.h"

namespace kp::cab::lzx {

namespace {

// Room for the matches of a chunk; positions past it get none.
constexpr std::uint32_t kCachePerPosition = 12;
// A frame's bits can exceed its size a good deal before the check below rejects them.
constexpr std::uint32_t kOutPerFrame = 2 * kFrameSize + 4096;
// libmspack (and so cabextract) reads a folder's compressed bytes this many at a time.
constexpr std::uint32_t kMspackReadSize = 4096;
// Places, in eighths of a frame from its start, where the frame before a short last
// frame may get another block end when its own end sits badly (lastFrameSized).
constexpr std::uint32_t kSplitUnit = kFrameSize / 8;
constexpr unsigned kSplitPlaces[] = {4, 2, 6, 1, 3, 5, 7};
static_assert(std::size(kSplitPlaces) < kFrameSize / kSplitUnit,
              "every place to split lies inside the frame");
// With a search thread, the data buffer's room beyond what the held frames need.
constexpr std::uint32_t kCompactionSlack = 8 * kChunkBytes;
static_assert(kCompactionSlack >= kFrameSize,
              "a compaction keeps a window before the oldest held chunk and never moves past base");

template <typename T> T* grab(const Allocator& memory, std::size_t count) {
    return static_cast<T*>(memory.alloc(memory.opaque, sizeof(T) * count));
}

} // namespace

Encoder* Encoder::create(unsigned windowBits, const Allocator& memory, const BlockSink& sink,
                         const Tuning& tuning) {
    if (!tuning.valid() || !windowBitsValid(windowBits)) {
        return nullptr;
    }
    void* place = memory.alloc(memory.opaque, sizeof(Encoder));
    if (!place) {
        return nullptr;
    }
    auto* e = new (place) Encoder();
    e->memory_ = memory;
    e->sink_ = sink;
    e->tuning_ = tuning;
    e->windowBits_ = windowBits;
    e->window_ = 1u << windowBits;
    e->numMain_ = kNumChars + 8 * slotsForWindow(windowBits);
    if (!e->allocate()) {
        destroy(e);
        return nullptr;
    }
    e->startStream();
    return e;
}

bool Encoder::allocate() {
    // A window of history, a chunk and its look-ahead.
    dataCapacity_ = window_ + kChunkBytes + kLookahead;
    data_ = grab<std::uint8_t>(memory_, dataCapacity_);
    finderMemory_ = grab<std::uint8_t>(memory_, MatchFinder::tableBytes(windowBits_));
    cacheCapacity_ = kChunkBytes * kCachePerPosition;
    caches_[0].first = grab<std::uint32_t>(memory_, kChunkBytes + 1);
    caches_[0].matches = grab<Match>(memory_, cacheCapacity_);
    nodes_ = grab<ParseNode>(memory_, kChunkBytes + 1);
    items_ = grab<Item>(memory_, kChunkBytes);
    cumulative_ = grab<Symbols>(memory_, kMaxSegments + 1);
    symbols_ = grab<Symbols>(memory_, 1);
    codes_ = grab<Codes>(memory_, 1);
    model_ = grab<CostModel>(memory_, 1);
    history_ = grab<TreeHistory>(memory_, 1);
    savedHistory_ = grab<TreeHistory>(memory_, 1);
    outCapacity_ = kChunkFrames * kOutPerFrame;
    out_ = grab<std::uint8_t>(memory_, outCapacity_);
    return data_ && finderMemory_ && caches_[0].first && caches_[0].matches && nodes_ && items_ &&
           cumulative_ && symbols_ && codes_ && model_ && history_ && savedHistory_ && out_;
}

bool Encoder::useSearchThread() {
    if (searcher_ || end_ != streamStart_) {
        return false;
    }
    // Two chunks and the look-ahead ahead of the window, and room to take frames
    // for a while before the buffer must be compacted, which waits for the search.
    std::uint32_t capacity = window_ + 2 * kChunkBytes + kLookahead + kCompactionSlack;
    auto* data = grab<std::uint8_t>(memory_, capacity);
    auto* first = grab<std::uint32_t>(memory_, kChunkBytes + 1);
    auto* matches = grab<Match>(memory_, cacheCapacity_);
    void* place = memory_.alloc(memory_.opaque, sizeof(SearchThread));
    SearchThread* searcher = place ? new (place) SearchThread() : nullptr;
    if (!data || !first || !matches || !searcher || !searcher->start(runSearchJob, &job_)) {
        if (searcher) {
            searcher->~SearchThread();
        }
        for (void* b : {static_cast<void*>(data), static_cast<void*>(first),
                        static_cast<void*>(matches), place}) {
            if (b) {
                memory_.free(memory_.opaque, b);
            }
        }
        return false;
    }
    memory_.free(memory_.opaque, data_);
    data_ = data;
    dataCapacity_ = capacity;
    caches_[1].first = first;
    caches_[1].matches = matches;
    cacheCount_ = 2;
    searcher_ = searcher;
    startStream();
    return true;
}

bool Encoder::setTuning(const Tuning& tuning) {
    if (end_ != streamStart_ || !tuning.valid()) {
        return false;
    }
    tuning_ = tuning;
    startStream();
    return true;
}

void Encoder::destroy(Encoder* e) {
    if (!e) {
        return;
    }
    Allocator memory = e->memory_;
    if (e->searcher_) {
        e->searcher_->stop();
        e->searcher_->~SearchThread();
        memory.free(memory.opaque, e->searcher_);
    }
    void* blocks[] = {e->data_,
                      e->finderMemory_,
                      e->caches_[0].first,
                      e->caches_[0].matches,
                      e->caches_[1].first,
                      e->caches_[1].matches,
                      e->nodes_,
                      e->items_,
                      e->cumulative_,
                      e->symbols_,
                      e->codes_,
                      e->model_,
                      e->history_,
                      e->savedHistory_,
                      e->out_};
    for (void* b : blocks) {
        if (b) {
            memory.free(memory.opaque, b);
        }
    }
    e->~Encoder();
    memory.free(memory.opaque, e);
}

void Encoder::startStream() {
    finder_.init(finderMemory_, windowBits_, tuning_.searchDepth, tuning_.niceLength);
    std::memset(data_, 0, dataCapacity_);
    streamStart_ = window_;
    base_ = end_ = chunkStart_ = chunkEnd_ = streamStart_;
    pendingFrames_ = 0;
    sawShortFrame_ = false;
    streamEnded_ = false;
    caches_[0].open = caches_[1].open = false;
    headerWritten_ = false;
    streamOut_ = 0;
    haveModel_ = false;
    std::memset(history_, 0, sizeof(TreeHistory));
    reps_ = {{1, 1, 1}};
}

int Encoder::frame(const std::uint8_t* data, std::uint32_t size) {
    if (size == 0 || size > kFrameSize || sawShortFrame_ ||
        end_ - streamStart_ > kMaxStreamBytes - size) {
        return codecFailed;
    }
    int rc = codecOk;
    if (searcher_ && pendingFrames_ == kMaxHeldFrames) {
        // The oldest chunk was held back while the next one was searched: its turn.
        rc = encodeChunk(kChunkFrames, false);
        if (rc != codecOk) {
            return rc;
        }
    }
    ingest(data, size);
    if (sawShortFrame_) {
        // A short frame is the folder's last: its end is the stream's end.
        rc = settle();
        if (rc == codecOk) {
            rc = encodeChunk(pendingFrames_, true);
        }
    } else if (!searcher_ && pendingFrames_ > kChunkFrames) {
        // The newest frame is the chunk's look-ahead; it opens the next chunk.
        rc = encodeChunk(kChunkFrames, false);
    }
    feedSearchThread();
    return rc;
}

void Encoder::ingest(const std::uint8_t* data, std::uint32_t size) {
    if (end_ - base_ + size > dataCapacity_) {
        // Keep one window of history in front of the frames not yet encoded.
        waitSearchThread();
        std::uint32_t keep = chunkStart_ - window_;
        std::memmove(data_, data_ + (keep - base_), end_ - keep);
        base_ = keep;
    }
    std::uint8_t* dest = data_ + (end_ - base_);
    std::memcpy(dest, data, size);
    e8Translate(dest, size, end_ - streamStart_, std::int32_t(kE8TranslationSize));
    end_ += size;
    frameEnds_[pendingFrames_++] = end_ - streamStart_;
    sawShortFrame_ = size < kFrameSize;
    streamEnded_ = sawShortFrame_;
}

int Encoder::settle() {
    while (pendingFrames_ > kChunkFrames) {
        int rc = encodeChunk(kChunkFrames, false);
        if (rc != codecOk) {
            return rc;
        }
    }
    return codecOk;
}

int Encoder::finish() {
    streamEnded_ = true;
    int rc = settle();
    if (rc == codecOk && pendingFrames_) {
        rc = encodeChunk(pendingFrames_, true);
    }
    // The next frame, if any, starts a new folder's stream.
    waitSearchThread();
    startStream();
    return rc;
}

// The cache that holds, or is to hold, the matches of the chunk starting at chunkStart.
Encoder::ChunkCache& Encoder::cacheFor(std::uint32_t chunkStart) {
    ChunkCache& cc = caches_[cacheIndex(chunkStart)];
    if (!cc.open || cc.start != chunkStart) {
        cc.start = cc.pos = cc.skipUntil = chunkStart;
        cc.stop = chunkStart + kChunkBytes;
        cc.used = 0;
        cc.open = true;
    }
    return cc;
}

// How far the chunk can be searched with the bytes in: a search sees at most the
// longest match ahead, so a position that has that much after it gets the matches
// it would get with the whole stream in; short of that, only at the stream's end.
std::uint32_t Encoder::searchableEnd(const ChunkCache& cc) const {
    std::uint32_t until = streamEnded_                       ? end_
                          : end_ - streamStart_ >= kMaxMatch ? end_ - kMaxMatch
                                                             : 0;
    return until < cc.stop ? until : cc.stop;
}

void Encoder::search(ChunkCache& cc, std::uint32_t until, const Span& span) {
    Match found[kMaxMatchesPerPosition];
    std::uint32_t used = cc.used;
    for (std::uint32_t pos = cc.pos; pos < until; ++pos) {
        cc.first[pos - cc.start] = used;
        if (pos < cc.skipUntil) {
            finder_.skip(span, pos);
            continue;
        }
        unsigned count = finder_.find(span, pos, found);
        if (count == 0) {
            continue;
        }
        unsigned longest = matchLength(found[count - 1]);
        if (longest >= tuning_.niceLength) {
            // The parser takes a match this long whole; the positions it covers
            // need no matches, up to the frame's end where the parser cuts it.
            std::uint32_t frameEnd = pos + (kFrameSize - (pos - streamStart_) % kFrameSize);
            cc.skipUntil = pos + longest < frameEnd ? pos + longest : frameEnd;
        }
        unsigned keep = count;
        if (keep > cacheCapacity_ - used) {
            keep = cacheCapacity_ - used;
        }
        std::memcpy(cc.matches + used, found + (count - keep), keep * sizeof(Match));
        used += keep;
    }
    if (until > cc.pos) {
        cc.pos = until;
    }
    cc.used = used;
    if (cc.pos == cc.stop) {
        cc.first[cc.stop - cc.start] = used;
    }
}

void Encoder::runSearchJob(void* p) {
    auto* job = static_cast<SearchJob*>(p);
    job->encoder->search(*job->cache, job->until, job->span);
}

void Encoder::waitSearchThread() {
    if (searcher_) {
        searcher_->wait();
    }
}

// Gives the search thread what it can search now: the rest of the chunk to encode
// next, or else the chunk after it.
void Encoder::feedSearchThread() {
    if (!searcher_ || searcher_->busy()) {
        return;
    }
    ChunkCache* cc = &cacheFor(chunkStart_);
    if (cc->pos == cc->stop) {
        std::uint32_t next = chunkStart_ + kChunkBytes;
        if (cc->stop != next || end_ <= next) {
            return;
        }
        cc = &cacheFor(next);
    }
    std::uint32_t until = searchableEnd(*cc);
    if (until <= cc->pos) {
        return;
    }
    // The finder reads on into the look-ahead; matches past the chunk are cut by the parser.
    job_ = {this, cc, until, Span{data_, base_, end_, streamEnded_}};
    searcher_->post();
}

// The matches of the chunk about to be encoded, all of them.
void Encoder::completeMatches() {
    // The search thread moves on to the next chunk only once this one is searched
    // whole: then it keeps to that chunk's cache and to the finder, and this thread
    // may parse meanwhile.
    ChunkCache& current = caches_[cacheIndex(chunkStart_)];
    if (searcher_ && searcher_->busy() && job_.cache != &current) {
        return;
    }
    waitSearchThread();
    ChunkCache& cc = cacheFor(chunkStart_);
    cc.stop = chunkEnd_;
    search(cc, chunkEnd_, Span{data_, base_, end_, streamEnded_});
    // The next chunk is searched while this thread parses this one.
    feedSearchThread();
}

void Encoder::measureSegments(std::uint32_t start, const Item* items, unsigned count,
                              Segments& seg) {
    const std::uint8_t* data = data_ + (start - base_);
    Symbols& running = *symbols_;
    running.clear();
    std::uint64_t extra = 0;
    std::uint32_t pos = 0;
    unsigned i = 0;
    seg.cumulative = cumulative_;
    cumulative_[0].clear();
    seg.extraBits[0] = 0;
    for (unsigned s = 1; s <= seg.count; ++s) {
        while (i < count && pos < seg.start[s]) {
            running.add(items + i, 1, data + pos);
            if (items[i].length > 1) {
                extra += slotExtraBits(slotOf(items[i].offset));
            }
            pos += items[i].length;
            ++i;
        }
        cumulative_[s] = running;
        seg.extraBits[s] = extra;
    }
}

bool Encoder::storableEnd(std::uint32_t end, bool last) const {
    // Decoders disagree on the pad byte after an odd uncompressed block that ends
    // the stream, so such a block is never written.
    return !(last && end == chunkEnd_ && ((chunkEnd_ - streamStart_) & 1));
}

unsigned Encoder::segmentAt(std::uint32_t pos) const {
    std::uint32_t rel = pos - chunkStart_;
    return rel >= chunkEnd_ - chunkStart_ ? segments_.count : rel / kSegmentSize;
}

// Parses within the chunk whose matches completeMatches() has cached.
Parser Encoder::chunkParser() const {
    const ChunkCache& cc = caches_[cacheIndex(chunkStart_)];
    return {data_,
            base_,
            streamStart_,
            chunkStart_,
            {cc.first, cc.matches},
            nodes_,
            tuning_.niceLength,
            finder_.maxOffset};
}

// Encodes the first `frames` pending frames; last when they end the stream.
int Encoder::encodeChunk(unsigned frames, bool last) {
    chunkEnd_ = streamStart_ + frameEnds_[frames - 1];
    if (frames == pendingFrames_) {
        frameEnds_[frames] = 0xFFFFFFFFu;
    }
    completeMatches();
    BlockPlan plan;
    planChunk(last, plan);
    int rc = writeChunk(frames, last, plan);
    return rc == codecOk ? emitFrames(frames) : rc;
}

// A first parse with the codes of the previous chunk shows where the statistics
// change, and so where blocks should end.
void Encoder::planChunk(bool last, BlockPlan& plan) {
    std::uint32_t start = chunkStart_;
    std::uint32_t size = chunkEnd_ - start;
    Parser parser = chunkParser();
    Repeats reps = reps_;
    unsigned count;
    if (!haveModel_) {
        // The stream's first chunk has no codes before it, and prices guessed from its
        // bytes alone put block ends in the wrong places: plan with the codes a first
        // parse gives instead.
        model_->initial(data_ + (start - base_), size);
        count = parser.parse(start, chunkEnd_, *model_, reps, items_);
        Symbols& symbols = *symbols_;
        symbols.clear();
        symbols.add(items_, count, data_ + (start - base_));
        codes_->build(symbols, numMain_);
        model_->fromLengths(codes_->mainLengths, codes_->lengthLengths, codes_->alignedLengths,
                            false);
        reps = reps_;
    }
    count = parser.parse(start, chunkEnd_, *model_, reps, items_);

    Segments& seg = segments_;
    seg.count = (size + kSegmentSize - 1) / kSegmentSize;
    for (unsigned s = 0; s <= seg.count; ++s) {
        std::uint32_t at = s * kSegmentSize;
        seg.start[s] = at < size ? at : size;
        seg.frameStart[s] = at % kFrameSize == 0 || at >= size;
    }
    seg.storableEnd = storableEnd(chunkEnd_, last);
    measureSegments(start, items_, count, seg);
    planBlocks(seg, plan);
}

// Writes the chunk into out_ and its frames' ends into cuts_, falling back to one
// block per frame when the plan makes a frame larger than decoders take, and
// ending blocks elsewhere when a decoder could not size the stream's last frame.
int Encoder::writeChunk(unsigned frames, bool last, BlockPlan& plan) {
    *savedHistory_ = *history_;
    Repeats savedReps = reps_;
    bool savedHeader = headerWritten_;
    unsigned attempt = 0;
    for (;;) {
        BitWriter out(out_, outCapacity_);
        if (!headerWritten_) {
            out.put(1, 1);
            out.put(kE8TranslationSize >> 16, 16);
            out.put(kE8TranslationSize & 0xFFFF, 16);
            headerWritten_ = true;
        }
        FrameCutter cutter{frameEnds_, cuts_, 0};
        encodeBlocks(out, cutter, plan, last);
        bool fits = !out.overflowed();
        for (unsigned f = 0; f < frames && fits; ++f) {
            std::uint32_t from = f ? cuts_[f - 1] : 0;
            fits = cuts_[f] - from <= tuning_.frameLimit;
        }
        // One block per frame is never larger than the frame stored.
        bool sized = fits || plan.count == frames;
        if (sized && lastFrameSized(frames, last, cutter)) {
            return codecOk;
        }
        *history_ = *savedHistory_;
        reps_ = savedReps;
        headerWritten_ = savedHeader;
        if (!sized) {
            // Some frame came out too large for decoders' input buffers: start
            // over with one block per frame.
            plan.count = frames;
            plan.start[0] = 0;
            for (unsigned f = 0; f < frames; ++f) {
                plan.start[f + 1] = frameEnds_[f] - (chunkStart_ - streamStart_);
                plan.stored[f] = false;
            }
        } else if (!splitBeforeLastFrame(frames, last, attempt++, plan)) {
            return codecFailed;
        }
    }
}

// The frame of this chunk just before the stream's short last frame, counted from
// the chunk's first, or -1: the last frame is in this chunk, or is the look-ahead
// after it.
int Encoder::frameBeforeShortLast(unsigned frames, bool last) const {
    if (last) {
        bool shortEnd = (chunkEnd_ - streamStart_) % kFrameSize != 0;
        return shortEnd && frames >= 2 ? int(frames) - 2 : -1;
    }
    bool lookaheadIsShortLast = sawShortFrame_ && frames + 1 == pendingFrames_;
    return lookaheadIsShortLast ? int(frames) - 1 : -1;
}

// libmspack learns how long a folder's data is only when it reads the last data
// block, yet sizes each frame before decoding it: a short last frame is taken for
// a full one unless the decoder has already read into that frame's bytes. It has,
// when its last 4096-byte read went past them, or when the frame before ended in
// padding bits, since it then reads on to the next word. What stays is a frame
// before the last that ends, unpadded (an uncompressed block always is), where a
// read ends.
bool Encoder::lastFrameSized(unsigned frames, bool last, const FrameCutter& cutter) const {
    int before = frameBeforeShortLast(frames, last);
    if (before < 0) {
        return true;
    }
    bool unpadded = (cutter.unpadded >> before) & 1;
    return !unpadded || (streamOut_ + cuts_[before]) % kMspackReadSize != 0;
}

namespace {

// Adds a block end at chunk-relative `at`, inside the chunk; false when one is there.
bool endBlockAt(BlockPlan& plan, std::uint32_t at) {
    unsigned b = 0;
    while (plan.start[b + 1] < at) {
        ++b;
    }
    if (plan.start[b] == at || plan.start[b + 1] == at) {
        return false;
    }
    for (unsigned k = plan.count; k > b; --k) {
        plan.start[k + 1] = plan.start[k];
        plan.stored[k] = plan.stored[k - 1];
    }
    plan.start[b + 1] = at;
    ++plan.count;
    return true;
}

} // namespace

// Another block end in the frame before the last: the frame's bits change, and
// with them where it ends. A block that ends inside a frame is never stored; one
// that ends where the frame starts keeps the frames before it as they were. False
// when every place has been tried.
bool Encoder::splitBeforeLastFrame(unsigned frames, bool last, unsigned attempt,
                                   BlockPlan& plan) const {
    int before = frameBeforeShortLast(frames, last);
    std::uint32_t chunkOffset = chunkStart_ - streamStart_;
    std::uint32_t frameStart = before > 0 ? frameEnds_[before - 1] - chunkOffset : 0;
    endBlockAt(plan, frameStart);
    for (; attempt < std::size(kSplitPlaces); ++attempt) {
        if (endBlockAt(plan, frameStart + kSplitPlaces[attempt] * kSplitUnit)) {
            return true;
        }
    }
    return false;
}

// Hands the chunk's frames to the sink and moves on to the next chunk.
int Encoder::emitFrames(unsigned frames) {
    std::uint32_t start = chunkStart_;
    std::uint32_t ends[kChunkFrames];
    std::memcpy(ends, frameEnds_, frames * sizeof(ends[0]));
    pendingFrames_ -= frames;
    streamOut_ += cuts_[frames - 1];
    for (unsigned f = 0; f < pendingFrames_; ++f) {
        frameEnds_[f] = frameEnds_[frames + f];
    }
    caches_[cacheIndex(start)].open = false;
    chunkStart_ = chunkEnd_;
    std::uint32_t from = 0;
    std::uint32_t frameStart = start - streamStart_;
    for (unsigned f = 0; f < frames; ++f) {
        int rc = sink_.emit(sink_.opaque, out_ + from, cuts_[f] - from, ends[f] - frameStart);
        if (rc) {
            return rc;
        }
        from = cuts_[f];
        frameStart = ends[f];
    }
    return codecOk;
}

void Encoder::encodeBlocks(BitWriter& out, FrameCutter& cutter, const BlockPlan& plan, bool last) {
    for (unsigned b = 0; b < plan.count; ++b) {
        std::uint32_t from = chunkStart_ + plan.start[b];
        std::uint32_t to = chunkStart_ + plan.start[b + 1];
        // Uncompressed blocks hold whole frames: they then start on a fresh
        // word where no decoder doubts the alignment.
        bool frameAligned = (from - streamStart_) % kFrameSize == 0 &&
                            ((to - streamStart_) % kFrameSize == 0 || to == chunkEnd_);
        bool storable = frameAligned && storableEnd(to, last);
        if (plan.stored[b] && storable) {
            writeUncompressedBlock(out, cutter, data_ + (from - base_), from - streamStart_,
                                   to - from, reps_);
            continue;
        }
        encodeCompressed(out, cutter, from, to, storable);
    }
}

void Encoder::encodeCompressed(BitWriter& out, FrameCutter& cutter, std::uint32_t from,
                               std::uint32_t to, bool storable) {
    Parser parser = chunkParser();
    const std::uint8_t* data = data_ + (from - base_);

    // Start from what the chunk's first parse saw in this range.
    Symbols& symbols = *symbols_;
    const Symbols& hi = segments_.cumulative[segmentAt(to)];
    const Symbols& lo = segments_.cumulative[segmentAt(from)];
    for (unsigned s = 0; s < kMaxMainSymbols; ++s) {
        symbols.main[s] = hi.main[s] - lo.main[s];
    }
    for (unsigned s = 0; s < kNumLengthSymbols; ++s) {
        symbols.length[s] = hi.length[s] - lo.length[s];
    }
    for (unsigned s = 0; s < kNumAlignedSymbols; ++s) {
        symbols.aligned[s] = hi.aligned[s] - lo.aligned[s];
    }
    Codes& codes = *codes_;
    codes.build(symbols, numMain_);
    // Where the plan's offsets already favour some low bits, the parse prices them
    // as an aligned block would code them.
    std::uint64_t lowVerbatim = 0;
    std::uint64_t lowAligned = kAlignedTreeBits;
    for (unsigned s = 0; s < kNumAlignedSymbols; ++s) {
        lowVerbatim += 3 * std::uint64_t(symbols.aligned[s]);
        lowAligned += std::uint64_t(symbols.aligned[s]) * codes.alignedLengths[s];
    }
    model_->fromLengths(codes.mainLengths, codes.lengthLengths, codes.alignedLengths,
                        lowAligned < lowVerbatim);

    Repeats reps{};
    unsigned count = 0;
    std::uint64_t verbatimBits = 0;
    std::uint64_t alignedBits = 0;
    for (unsigned pass = 0; pass < tuning_.passes; ++pass) {
        reps = reps_;
        count = parser.parse(from, to, *model_, reps, items_);
        symbols.clear();
        symbols.add(items_, count, data);
        codes.build(symbols, numMain_);
        symbolCosts(items_, count, data, codes, &verbatimBits, &alignedBits);
        model_->fromLengths(codes.mainLengths, codes.lengthLengths, codes.alignedLengths,
                            alignedBits + kAlignedTreeBits < verbatimBits);
    }
    std::uint64_t trees = treeCost(codes, *history_, numMain_, false);
    verbatimBits += trees;
    alignedBits += trees + kAlignedTreeBits;
    BlockType type = alignedBits < verbatimBits ? kAligned : kVerbatim;
    std::uint64_t bits = type == kAligned ? alignedBits : verbatimBits;
    std::uint64_t storedBits = kUncompressedOverheadBits + 8 * std::uint64_t(to - from);
    if (storable && storedBits < bits) {
        writeUncompressedBlock(out, cutter, data, from - streamStart_, to - from, reps_);
        return;
    }
    writeCompressedBlock(out, cutter, type, items_, count, data, from - streamStart_, to - from,
                         codes, *history_, numMain_);
    reps_ = reps;
    haveModel_ = true;
}

} // namespace kp::cab::lzx
