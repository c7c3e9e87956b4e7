// MSZIP: each frame is "CK" followed by a complete deflate stream. Decoders keep
// the previous frame as their window, so we compress every frame with the one
// before it as preset dictionary; that history is where most of the gain over
// independent blocks comes from.
#include <cstring>

#include <zlib.h>

#include "mszip_frame.h"

namespace kp::cab {
namespace {

struct MszipState {
    Allocator memory;
    BlockSink sink;
    z_stream zs;
    bool zsReady;
    std::uint32_t historySize;
    std::uint8_t history[kFrameSize];
    std::uint8_t out[kMszipBlockRoom];
};

void* zlibAlloc(void* opaque, uInt items, uInt size) {
    auto* memory = static_cast<Allocator*>(opaque);
    return memory->alloc(memory->opaque, std::size_t(items) * size);
}

void zlibFree(void* opaque, void* block) {
    auto* memory = static_cast<Allocator*>(opaque);
    memory->free(memory->opaque, block);
}

// A frame that deflate cannot shrink goes out as one stored deflate block, so no
// block ever exceeds its frame by more than seven bytes.
std::uint32_t storeFrame(std::uint8_t* out, const std::uint8_t* data, std::uint32_t size) {
    std::uint8_t* p = out + kMszipSignatureSize;
    p[0] = 0x01; // final block, stored
    p[1] = std::uint8_t(size);
    p[2] = std::uint8_t(size >> 8);
    p[3] = std::uint8_t(~size);
    p[4] = std::uint8_t(~size >> 8);
    std::memcpy(p + kMszipStoredHeaderSize, data, size);
    return kMszipSignatureSize + kMszipStoredHeaderSize + size;
}

int mszipCreate(unsigned, const Allocator& memory, const BlockSink& sink, void** state) {
    auto* s = static_cast<MszipState*>(memory.alloc(memory.opaque, sizeof(MszipState)));
    if (!s) {
        return codecNoMemory;
    }
    std::memset(static_cast<void*>(s), 0, sizeof(MszipState));
    s->memory = memory;
    s->sink = sink;
    int rc = mszipInitStream(s->zs, &s->memory);
    if (rc != codecOk) {
        memory.free(memory.opaque, s);
        return rc;
    }
    s->zsReady = true;
    *state = s;
    return codecOk;
}

int mszipFrame(void* state, const std::uint8_t* data, std::uint32_t size) {
    auto* s = static_cast<MszipState*>(state);
    std::uint32_t blockSize = 0;
    int rc = mszipEncodeFrame(s->zs, s->history, s->historySize, data, size, s->out, blockSize);
    if (rc != codecOk) {
        return rc;
    }
    std::memcpy(s->history, data, size);
    s->historySize = size;
    return s->sink.emit(s->sink.opaque, s->out, blockSize, size);
}

int mszipFinish(void* state) {
    static_cast<MszipState*>(state)->historySize = 0;
    return codecOk;
}

void mszipDestroy(void* state) {
    auto* s = static_cast<MszipState*>(state);
    if (!s) {
        return;
    }
    if (s->zsReady) {
        deflateEnd(&s->zs);
    }
    s->memory.free(s->memory.opaque, s);
}

} // namespace

int mszipInitStream(z_stream& zs, Allocator* memory) {
    std::memset(static_cast<void*>(&zs), 0, sizeof zs);
    zs.zalloc = zlibAlloc;
    zs.zfree = zlibFree;
    zs.opaque = memory;
    // Level 5 with the carried history compresses better than independent blocks at
    // any level, at less than the cost of the default level.
    int rc = deflateInit2(&zs, 5, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        return rc == Z_MEM_ERROR ? codecNoMemory : codecFailed;
    }
    return codecOk;
}

int mszipEncodeFrame(z_stream& zs, const std::uint8_t* history, std::uint32_t historySize,
                     const std::uint8_t* data, std::uint32_t size, std::uint8_t* out,
                     std::uint32_t& blockSize) {
    if (size == 0 || size > kFrameSize) {
        return codecFailed;
    }
    out[0] = 'C';
    out[1] = 'K';
    if (deflateReset(&zs) != Z_OK) {
        return codecFailed;
    }
    if (historySize && deflateSetDictionary(&zs, history, historySize) != Z_OK) {
        return codecFailed;
    }
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = size;
    zs.next_out = out + kMszipSignatureSize;
    // Room for exactly the stored form: anything longer is not worth keeping.
    zs.avail_out = kMszipStoredHeaderSize + size;
    int rc = deflate(&zs, Z_FINISH);
    if (rc == Z_STREAM_END) {
        blockSize = kMszipSignatureSize + (kMszipStoredHeaderSize + size - zs.avail_out);
    } else if (rc == Z_OK || rc == Z_BUF_ERROR) {
        blockSize = storeFrame(out, data, size);
    } else {
        return rc == Z_MEM_ERROR ? codecNoMemory : codecFailed;
    }
    return codecOk;
}

// MSZIP blocks go to MszipPool instead: each depends on its input alone.
const CodecOps mszipCodec = {"MSZIP", mszipCreate, mszipFrame, mszipFinish, mszipDestroy,
                             nullptr, nullptr,     nullptr,    0,           nullptr};

} // namespace kp::cab
