#include "codec.h"

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
    default:
        return nullptr;
    }
}

} // namespace kp::cab
