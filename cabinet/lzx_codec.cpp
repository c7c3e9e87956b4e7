// LZX: our own encoder under cabinet/lzx, behind the common codec interface.
#include "cab_format.h"
#include "codec.h"
#include "fci.h"
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

// One more thread searches for matches; more would have nothing to do, as a
// folder is one stream.
int lzxUseThreads(void* state, unsigned threads) {
    if (threads < 2) {
        return codecFailed;
    }
    return static_cast<lzx::Encoder*>(state)->useSearchThread() ? codecOk : codecNoMemory;
}

int lzxSetEffort(void* state, unsigned effort) {
    return static_cast<lzx::Encoder*>(state)->setTuning(lzx::tuningForEffort(effort)) ? codecOk
                                                                                      : codecFailed;
}
static_assert(lzx::tuningForEffort(KPFCI_MAX_EFFORT).valid(),
              "the highest effort is a tuning the encoder takes");

int lzxSettle(void* state) {
    return static_cast<lzx::Encoder*>(state)->settle();
}

std::uint32_t lzxDueWith(std::uint32_t block) {
    return lzx::dueWithFrame(block);
}

} // namespace

const CodecOps lzxCodec = {"LZX",         lzxCreate, lzxFrame,   lzxFinish,           lzxDestroy,
                           lzxUseThreads, lzxSettle, lzxDueWith, lzx::kMaxHeldFrames, lzxSetEffort};

} // namespace kp::cab
