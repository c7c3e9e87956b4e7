// The open folder: frames its uncompressed stream for the codec and keeps the
// compressed blocks (past the cabinet data's end) and the file records in temporary
// files until it is placed.
#include <cstring>

#include "cabinet_assembler.h"
#include "folder_stream.h"

namespace kp::cab {
namespace {

constexpr int kSinkStopped = 1;

// Tells the context, while a block is emitted, whether the cabinet can still take the
// folder as it stands; if not, the folder is closed after the current file, so that
// only the files around the cabinet boundary have to be listed in both cabinets.
void noteCabinetRoom(Context& c) {
    std::uint64_t projected = cabinetSizeWithoutNext(c) + kNextNamesReserve + cffolder::kSize +
                              c.folderReserve + c.folderFileBytes + c.currentEntryBytes +
                              c.folderDataSize;
    if (projected > c.cabinetLimit) {
        c.folderMustClose = true;
    }
}

int emitBlock(void* opaque, const std::uint8_t* data, std::uint32_t compressedSize,
              std::uint32_t uncompressedSize) {
    auto& c = *static_cast<Context*>(opaque);
    if (compressedSize > kMaxBlockData || uncompressedSize == 0 || uncompressedSize > kFrameSize) {
        c.breakWith(FCIERR_MCI_FAIL);
        return kSinkStopped;
    }
    if (c.ccab.fFailOnIncompressible && c.folderType != tcompTYPE_NONE &&
        compressedSize > uncompressedSize) {
        c.breakWith(FCIERR_MCI_FAIL);
        return kSinkStopped;
    }
    std::uint32_t headerSize = c.dataRecordSize(0);
    encodeDataHeader(c.block, c.dataReserve, data, compressedSize, uncompressedSize);
    std::memcpy(c.block + headerSize, data, compressedSize);
    int err = 0;
    std::uint32_t recordSize = headerSize + compressedSize;
    if (std::uint64_t(c.folderDataSize) + recordSize > 0xFFFFFFFFu ||
        !c.cabData.writeAt(c.io, std::uint64_t(c.folderDataStart) + c.folderDataSize, c.block,
                           recordSize, err)) {
        c.breakWith(FCIERR_TEMP_FILE, err);
        return kSinkStopped;
    }
    c.folderDataSize += recordSize;
    ++c.folderBlocks;
    c.folderCompressed += compressedSize;
    // An abort is honoured once the codec has finished its frame, so that its
    // stream stays whole and the context can take further files.
    if (c.status && c.status(statusFile, compressedSize, uncompressedSize, c.io.pv) == -1) {
        c.abortRequested = true;
    }
    noteCabinetRoom(c);
    return 0;
}

// The sink of every codec: a codec with threads emits a block later than it fell
// due, and it goes through emitBlock with the folder's file list as it stood when
// the frame that made it due came, as if it had been emitted then.
int emitFolderBlock(void* opaque, const std::uint8_t* data, std::uint32_t compressedSize,
                    std::uint32_t uncompressedSize) {
    auto& c = *static_cast<Context*>(opaque);
    if (!c.deferring) {
        return emitBlock(opaque, data, compressedSize, uncompressedSize);
    }
    std::uint32_t due = c.codec->dueWith(c.blocksOut++);
    if (due >= c.framesIn) {
        return emitBlock(opaque, data, compressedSize, uncompressedSize); // due now
    }
    const Context::FrameMark& mark = c.marks[due % Context::kFrameMarks];
    std::uint32_t fileBytes = c.folderFileBytes;
    std::uint32_t entryBytes = c.currentEntryBytes;
    c.folderFileBytes = mark.fileBytes;
    c.currentEntryBytes = mark.entryBytes;
    int rc = emitBlock(opaque, data, compressedSize, uncompressedSize);
    c.folderFileBytes = fileBytes;
    c.currentEntryBytes = entryBytes;
    return rc;
}

// Blocks of a codec with threads that are due but not yet emitted.
std::uint32_t deferredDue(const Context& c) {
    std::uint32_t b = c.blocksOut;
    while (b < c.framesIn && c.codec->dueWith(b) < c.framesIn) {
        ++b;
    }
    return b - c.blocksOut;
}

bool codecResult(Context& c, int rc) {
    if (rc == codecOk) {
        return true;
    }
    if (rc == kSinkStopped) {
        return false; // the sink has recorded why
    }
    return c.breakWith(rc == codecNoMemory ? FCIERR_ALLOC_FAIL : FCIERR_MCI_FAIL);
}

// A block the pool compressed goes through emitBlock with the folder's file list as
// it stood when its frame was handed over, as if it had been emitted then.
bool emitPooled(Context& c, const PoolJob& job) {
    if (job.rc != codecOk) {
        return codecResult(c, job.rc);
    }
    std::uint32_t fileBytes = c.folderFileBytes;
    std::uint32_t entryBytes = c.currentEntryBytes;
    c.folderFileBytes = job.fileBytes;
    c.currentEntryBytes = job.entryBytes;
    int rc = emitBlock(&c, job.out, job.blockSize, job.size);
    c.folderFileBytes = fileBytes;
    c.currentEntryBytes = entryBytes;
    return rc == 0;
}

// Hands one frame of the open pooled folder to the workers, taking out the oldest
// block first when every slot is taken.
bool submitFrame(Context& c, const std::uint8_t* data, std::uint32_t size) {
    if (c.pool->full()) {
        bool emitted = emitPooled(c, c.pool->waitOldest());
        c.pool->popOldest();
        if (!emitted) {
            c.pool->cancel();
            return false;
        }
    }
    c.pool->submit(data, size, c.folderFileBytes, c.currentEntryBytes, c.callCount);
    return true;
}

// The frame just completed, through the codec or the pool.
bool compressFrame(Context& c, const std::uint8_t* data, std::uint32_t size) {
    if (c.pooled) {
        return submitFrame(c, data, size);
    }
    if (c.deferring) {
        c.marks[c.framesIn % Context::kFrameMarks] = {c.folderFileBytes, c.currentEntryBytes};
    }
    ++c.framesIn;
    return codecResult(c, c.codec->frame(c.codecState, data, size));
}

// A pool for `c.threads` workers, when MSZIP folders should use one. A pool that
// cannot be built leaves the folder on the caller's thread, which writes the same bytes.
bool wantPool(Context& c, const CodecOps* codec) {
    if (c.threads < 2 || codec != &mszipCodec) {
        return false;
    }
    if (c.pool && c.pool->threads() != c.threads) {
        MszipPool::destroy(c.pool);
        c.pool = nullptr;
    }
    if (!c.pool) {
        c.pool = MszipPool::create(c.threads, c.io);
    }
    return c.pool != nullptr;
}

void resetFolder(Context& c) {
    if (c.pool && c.pool->inFlight()) {
        c.pool->cancel();
    }
    c.pooled = false;
    c.deferring = false;
    c.framesIn = c.blocksOut = 0;
    if (c.codecState) {
        c.codec->destroy(c.codecState);
        c.codecState = nullptr;
    }
    c.folderOpen = false;
    c.codec = nullptr;
    c.frameFill = 0;
    c.folderDataStart = c.folderDataSize = 0;
    c.folderFiles.clear();
    c.folderUncompressed = c.folderCompressed = c.folderBlocks = 0;
    c.folderFileCount = c.folderFileBytes = c.currentEntryBytes = c.folderNeededEnd = 0;
    c.folderMustClose = false;
}

} // namespace

bool drainPool(Context& c, bool all) {
    if (c.deferring) {
        // Every file's blocks are settled before it is listed: none is left from an
        // earlier call.
        return !all || codecResult(c, c.codec->settle(c.codecState));
    }
    while (c.pool && c.pool->inFlight()) {
        if (!all && c.pool->oldestCall() >= c.callCount) {
            break;
        }
        const PoolJob& job = c.pool->waitOldest();
        bool emitted = emitPooled(c, job);
        c.pool->popOldest();
        if (!emitted) {
            c.pool->cancel();
            return false;
        }
    }
    return true;
}

bool pendingBlocksMatter(const Context& c) {
    std::uint64_t frames = 0;
    std::uint64_t payload = 0;
    if (c.deferring) {
        // No block is larger than emitBlock lets through.
        frames = deferredDue(c);
        payload = frames * kMaxBlockData;
    } else if (c.pooled) {
        // No block is larger than its frame stored, signature and stored header included.
        frames = c.pool->inFlight();
        payload = c.pool->inFlightBytes() + frames * (kMszipBlockRoom - kFrameSize);
    }
    if (frames == 0) {
        return false;
    }
    if (c.folderThreshold && c.folderCompressed + payload >= c.folderThreshold) {
        return true;
    }
    // Every pending block saw a file list no longer than the one the folder has now.
    std::uint64_t projected = cabinetSizeWithoutNext(c) + kNextNamesReserve + cffolder::kSize +
                              c.folderReserve + c.folderFileBytes + c.currentEntryBytes +
                              c.folderDataSize + payload + frames * c.dataRecordSize(0);
    return projected > c.cabinetLimit;
}

bool openFolder(Context& c, TCOMP typeCompress, const CodecOps* codec, unsigned windowBits) {
    resetFolder(c);
    if (wantPool(c, codec)) {
        c.pool->startFolder();
        c.pooled = true;
        c.codec = codec;
        c.folderDataStart = c.cabData.size();
        c.folderType = typeCompress;
        c.folderOpen = true;
        return true;
    }
    BlockSink sink{emitFolderBlock, &c};
    int rc = codec->create(windowBits, c.io.codecAllocator(), sink, &c.codecState);
    if (rc != codecOk) {
        c.codecState = nullptr;
        return c.fail(rc == codecNoMemory ? FCIERR_ALLOC_FAIL : FCIERR_MCI_FAIL);
    }
    if (c.effort != 1 && codec->setEffort && codec->setEffort(c.codecState, c.effort) != codecOk) {
        codec->destroy(c.codecState);
        c.codecState = nullptr;
        return c.fail(FCIERR_MCI_FAIL);
    }
    c.codec = codec;
    // A codec that cannot have its threads writes the same bytes on this one.
    c.deferring = c.threads >= 2 && codec->useThreads &&
                  codec->maxHeldFrames < Context::kFrameMarks &&
                  codec->useThreads(c.codecState, c.threads) == codecOk;
    c.folderDataStart = c.cabData.size();
    c.folderType = typeCompress;
    c.folderOpen = true;
    return true;
}

bool feedFolder(Context& c, const std::uint8_t* data, std::uint32_t size) {
    while (size) {
        std::uint32_t take = kFrameSize - c.frameFill;
        if (take > size) {
            take = size;
        }
        std::memcpy(c.frame + c.frameFill, data, take);
        c.frameFill += take;
        c.folderUncompressed += take;
        data += take;
        size -= take;
        if (c.frameFill == kFrameSize) {
            c.frameFill = 0;
            if (!compressFrame(c, c.frame, kFrameSize)) {
                return false;
            }
            if (c.abortRequested) {
                return c.fail(FCIERR_USER_ABORT); // the file is left out, the folder goes on
            }
        }
    }
    return true;
}

bool closeFolder(Context& c) {
    if (!c.folderOpen) {
        return true;
    }
    if (c.frameFill) {
        std::uint32_t last = c.frameFill;
        c.frameFill = 0;
        if (!compressFrame(c, c.frame, last)) {
            return false;
        }
    }
    if (c.pooled) {
        if (!drainPool(c, true)) {
            return false;
        }
    } else {
        if (!codecResult(c, c.codec->finish(c.codecState))) {
            return false;
        }
        c.codec->destroy(c.codecState);
        c.codecState = nullptr;
    }
    if (!placeFolder(c)) {
        return false;
    }
    resetFolder(c);
    // The folder's files are whole and placed; the abort still fails the call.
    return c.abortRequested ? c.fail(FCIERR_USER_ABORT) : true;
}

} // namespace kp::cab
