// The one interface every cabinet compressor sits behind, so the writer never
// knows which method it drives and each method can be tested alone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fci.h"

namespace kp::cab {

// Every codec allocation goes through the cabinet client's callbacks.
struct Allocator {
    void* (*alloc)(void* opaque, std::size_t bytes); // null when memory is exhausted
    void (*free)(void* opaque, void* block);
    void* opaque;
};

// Receives the compressed frames of one folder, in order, one CFDATA block each.
struct BlockSink {
    // 0 to go on; any other value stops the codec, which returns that value unchanged.
    int (*emit)(void* opaque, const std::uint8_t* data, std::uint32_t compressedSize,
                std::uint32_t uncompressedSize);
    void* opaque;
};

constexpr int codecOk = 0;
constexpr int codecNoMemory = -1;
constexpr int codecFailed = -2;

// Uncompressed bytes in every CFDATA block but the last of a folder.
constexpr std::uint32_t kFrameSize = 32768;
// Largest cbData that decoders accept (libmspack's and Windows' input limit).
constexpr std::uint32_t kMaxBlockData = kFrameSize + 6144;

struct CodecOps {
    const char* name;
    // windowBits is meaningful only for methods with a window (LZX: lzx::windowBitsValid).
    int (*create)(unsigned windowBits, const Allocator& memory, const BlockSink& sink,
                  void** state);
    // One frame of the folder's stream: kFrameSize bytes, except the folder's last frame,
    // which may be shorter and is followed by finish().
    int (*frame)(void* state, const std::uint8_t* data, std::uint32_t size);
    // End of the folder's stream: emit every frame still held back.
    int (*finish)(void* state);
    void (*destroy)(void* state);

    // For codecs that can work on more threads; null in those that cannot.
    // Before the first frame: take up to `threads` threads. A codec that does may
    // hold frames back longer than on one thread and emit the same blocks later,
    // in the same order. codecOk when it took them; otherwise it goes on as before.
    int (*useThreads)(void* state, unsigned threads);
    // With threads: emits every block that one thread would have emitted by now.
    int (*settle)(void* state);
    // With threads: the frame (counted from the folder's first, 0) whose arrival
    // makes block `block` due on one thread.
    std::uint32_t (*dueWith)(std::uint32_t block);
    // The most frames such a codec holds back.
    unsigned maxHeldFrames;

    // For codecs with a choice of effort; null in the others, which are the same at
    // every level. Before the first frame: work at `effort`, 1 to KPFCI_MAX_EFFORT.
    int (*setEffort)(void* state, unsigned effort);
};

extern const CodecOps storeCodec;
extern const CodecOps mszipCodec;
extern const CodecOps lzxCodec;

// The codec a TCOMP value asks for and its window, or null when the type or its
// parameters are not supported (the caller reports FCIERR_BAD_COMPR_TYPE).
const CodecOps* codecFor(TCOMP typeCompress, unsigned* windowBits);

} // namespace kp::cab
