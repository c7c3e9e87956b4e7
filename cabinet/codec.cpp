#include "codec.h"

#include "cab_format.h"

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
        if (!isLzxWindowBits(bits)) {
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
