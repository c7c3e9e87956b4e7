// MSZIP frames one at a time. A frame's block depends only on its own bytes and on
// the bytes of the frame before it (the preset dictionary), never on an earlier
// block, so frames of one folder can be compressed on different threads.
#pragma once

#include <cstdint>

#include <zlib.h>

#include "codec.h"

namespace kp::cab {

constexpr std::uint32_t kMszipSignatureSize = 2;
constexpr std::uint32_t kMszipStoredHeaderSize = 5;
// The largest block a frame can give: the signature and the frame stored.
constexpr std::uint32_t kMszipBlockRoom = kMszipSignatureSize + kMszipStoredHeaderSize + kFrameSize;

// Sets up a deflate stream for mszipEncodeFrame. All of its memory is taken here,
// through `memory`, which must outlive the stream; encoding allocates nothing.
int mszipInitStream(z_stream& zs, Allocator* memory);
// Writes the block of `size` bytes of `data` (1 to kFrameSize) into `out`, which has
// kMszipBlockRoom bytes; `history` is the previous frame of the folder, or empty.
int mszipEncodeFrame(z_stream& zs, const std::uint8_t* history, std::uint32_t historySize,
                     const std::uint8_t* data, std::uint32_t size, std::uint8_t* out,
                     std::uint32_t& blockSize);

} // namespace kp::cab
