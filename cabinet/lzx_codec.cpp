// LZX: our own encoder under cabinet/lzx, behind the common codec interface.
#include "codec.h"
#include "lzx/encoder.h"

namespace kp::cab {
namespace {

static_assert(lzx::Tuning{}.valid(), "the default tuning is one the encoder takes");

int lzxCreate(unsigned windowBits, const Allocator& memory, const BlockSink& sink, void** state) {
    if (!lzx::windowBitsValid(windowBits)) {
        return codecFailed;
    }
    lzx::Encoder* e = lzx::Encoder::create(windowBits, memory, sink, lzx::Tuning{});
    if (!e) {
        return codecNoMemory;
    }
    *state = e;
    return codecOk;
}

int lzxFrame(void* state, const std::uint8_t* data, std::uint32_t size) {
    return static_cast<lzx::Encoder*>(state)->frame(data, size);
}

int lzxFinish(void* state) {
    return static_cast<lzx::Encoder*>(state)->finish();
}

void lzxDestroy(void* state) {
    lzx::Encoder::destroy(static_cast<lzx::Encoder*>(state));
}

} // namespace

const CodecOps lzxCodec = {"LZX", lzxCreate, lzxFrame, lzxFinish, lzxDestroy};

} // namespace kp::cab
