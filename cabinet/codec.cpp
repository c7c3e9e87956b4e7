#include "codec.h"

#include "lzx/lzx_format.h"

namespace kp::cab {

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
