#include "codec.h"

#include "lzx/lzx_format.h"

namespace kp::cab {

// A window fci.h publishes for a cabinet is one the encoder takes, and no other.
static_assert(lzx::kMinWindowBits == tcompLZX_WINDOW_LO >> tcompSHIFT_LZX_WINDOW);
static_assert(lzx::kMaxWindowBits == tcompLZX_WINDOW_HI >> tcompSHIFT_LZX_WINDOW);
// The encoder cuts its stream where the writer cuts CFDATA blocks.
static_assert(lzx::kFrameSize == kFrameSize);

const CodecOps* codecFor(TCOMP typeCompress, unsigned* windowBits) {
    *windowBits = 0;
    if (typeCompress & tcompMASK_RESERVED) {
        return nullptr;
    }
    switch (CompressionTypeFromTCOMP(typeCompress)) {
    case tcompTYPE_NONE:
        return &storeCodec;
    case tcompTYPE_MSZIP:
        return &mszipCodec;
    case tcompTYPE_LZX: {
        unsigned bits = LZXCompressionWindowFromTCOMP(typeCompress);
        if (!lzx::windowBitsValid(bits)) {
            return nullptr;
        }
        *windowBits = bits;
        return &lzxCodec;
    }
    default:
        return nullptr;
    }
}

} // namespace kp::cab
