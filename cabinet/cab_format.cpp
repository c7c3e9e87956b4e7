#include "cab_format.h"

#include <cstring>

namespace kp::cab {

std::uint32_t cabChecksum(const std::uint8_t* data, std::uint32_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::uint32_t words = size / 4;
    for (std::uint32_t i = 0; i < words; ++i, data += 4) {
        sum ^= std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
               std::uint32_t(data[3]) << 24;
    }
    std::uint32_t tail = 0;
    switch (size % 4) {
    case 3:
        tail |= std::uint32_t(*data++) << 16;
        [[fallthrough]];
    case 2:
        tail |= std::uint32_t(*data++) << 8;
        [[fallthrough]];
    case 1:
        tail |= *data;
        break;
    default:
        break;
    }
    return sum ^ tail;
}

void encodeDataHeader(std::uint8_t* header, std::uint32_t reserve, const std::uint8_t* data,
                      std::uint32_t compressedSize, std::uint32_t uncompressedSize) {
    putU16(header + cfdata::kCompressedSize, compressedSize);
    putU16(header + cfdata::kUncompressedSize, uncompressedSize);
    std::memset(header + cfdata::kSize, 0, reserve);
    // The sum covers the payload and then the two size fields; the reserve area is
    // left out, as every decoder computes it.
    static_assert(cfdata::kUncompressedSize == cfdata::kCompressedSize + 2 &&
                  cfdata::kSize == cfdata::kCompressedSize + 4);
    std::uint32_t sum = cabChecksum(data, compressedSize, 0);
    putU32(header + cfdata::kChecksum, cabChecksum(header + cfdata::kCompressedSize, 4, sum));
}

} // namespace kp::cab
