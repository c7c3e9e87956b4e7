// MSZIP: each frame is "CK" followed by a complete deflate stream. Decoders keep
// the previous frame as their window, so we compress every frame with the one
// before it as preset dictionary; that history is where most of the gain over
// independent blocks comes from.
#include <cstring>

#include <zlib.h>

#include "codec.h"

namespace kp::cab {
namespace {

constexpr std::uint32_t kSignatureSize = 2;
constexpr std::uint32_t kStoredHeaderSize = 5;

struct MszipState {
    Allocator memory;
    BlockSink sink;
    z_stream zs;
    bool zsReady;
    std::uint32_t historySize;
    std::uint8_t history[kFrameSize];
    std::uint8_t out[kSignatureSize + kStoredHeaderSize + kFrameSize];
};

void* zlibAlloc(void* opaque, uInt items, uInt size) {
    auto* memory = static_cast<Allocator*>(opaque);
    return memory->alloc(memory->opaque, std::size_t(items) * size);
}

void zlibFree(void* opaque, void* block) {
    auto* memory = static_cast<Allocator*>(opaque);
    memory->free(memory->opaque, block);
}

int mszipCreate(unsigned, const Allocator& memory, const BlockSink& sink, void** state) {
    auto* s = static_cast<MszipState*>(memory.alloc(memory.opaque, sizeof(MszipState)));
    if (!s) {
        return codecNoMemory;
    }
    std::memset(static_cast<void*>(s), 0, sizeof(MszipState));
    s->memory = memory;
    s->sink = sink;
    s->zs.zalloc = zlibAlloc;
    s->zs.zfree = zlibFree;
    s->zs.opaque = &s->memory;
    // Level 5 with the carried history compresses better than independent blocks at
    // any level, at less than the cost of the default level.
    int rc = deflateInit2(&s->zs, 5, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        memory.free(memory.opaque, s);
        return rc == Z_MEM_ERROR ? codecNoMemory : codecFailed;
    }
    s->zsReady = true;
    *state = s;
    return codecOk;
}

// A frame that deflate cannot shrink goes out as one stored deflate block, so no
// block ever exceeds its frame by more than seven bytes.
std::uint32_t storeFrame(MszipState* s, const std::uint8_t* data, std::uint32_t size) {
    std::uint8_t* p = s->out + kSignatureSize;
    p[0] = 0x01; // final block, stored
    p[1] = std::uint8_t(size);
    p[2] = std::uint8_t(size >> 8);
    p[3] = std::uint8_t(~size);
    p[4] = std::uint8_t(~size >> 8);
    std::memcpy(p + kStoredHeaderSize, data, size);
    return kSignatureSize + kStoredHeaderSize + size;
}

int mszipFrame(void* state, const std::uint8_t* data, std::uint32_t size) {
    auto* s = static_cast<MszipState*>(state);
    if (size == 0 || size > kFrameSize) {
        return codecFailed;
    }
    s->out[0] = 'C';
    s->out[1] = 'K';
    if (deflateReset(&s->zs) != Z_OK) {
        return codecFailed;
    }
    if (s->historySize && deflateSetDictionary(&s->zs, s->history, s->historySize) != Z_OK) {
        return codecFailed;
    }
    s->zs.next_in = const_cast<Bytef*>(data);
    s->zs.avail_in = size;
    s->zs.next_out = s->out + kSignatureSize;
    // Room for exactly the stored form: anything longer is not worth keeping.
    s->zs.avail_out = kStoredHeaderSize + size;
    int rc = deflate(&s->zs, Z_FINISH);
    std::uint32_t blockSize;
    if (rc == Z_STREAM_END) {
        blockSize = kSignatureSize + (kStoredHeaderSize + size - s->zs.avail_out);
    } else if (rc == Z_OK || rc == Z_BUF_ERROR) {
        blockSize = storeFrame(s, data, size);
    } else {
        return rc == Z_MEM_ERROR ? codecNoMemory : codecFailed;
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

const CodecOps mszipCodec = {"MSZIP", mszipCreate, mszipFrame, mszipFinish, mszipDestroy};

} // namespace kp::cab
