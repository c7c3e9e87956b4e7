// "No compression": every frame goes into its block as it stands.
#include "codec.h"

namespace kp::cab {
namespace {

struct StoreState {
    Allocator memory;
    BlockSink sink;
};

int storeCreate(unsigned, const Allocator& memory, const BlockSink& sink, void** state) {
    auto* s = static_cast<StoreState*>(memory.alloc(memory.opaque, sizeof(StoreState)));
    if (!s) {
        return codecNoMemory;
    }
    s->memory = memory;
    s->sink = sink;
    *state = s;
    return codecOk;
}

int storeFrame(void* state, const std::uint8_t* data, std::uint32_t size) {
    auto* s = static_cast<StoreState*>(state);
    return s->sink.emit(s->sink.opaque, data, size, size);
}

int storeFinish(void*) {
    return codecOk;
}

void storeDestroy(void* state) {
    auto* s = static_cast<StoreState*>(state);
    if (s) {
        s->memory.free(s->memory.opaque, s);
    }
}

} // namespace

const CodecOps storeCodec = {"none",  storeCreate, storeFrame, storeFinish, storeDestroy,
                             nullptr, nullptr,     nullptr,    0,           nullptr};

} // namespace kp::cab
