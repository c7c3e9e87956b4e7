#include "selfextract/ImageBytes.h"

#include "platform/LastError.h"

namespace kp::platform {

void malformedImage(const char* reason) {
    throw ImageError(kErrorBadExeFormat, reason);
}

const std::uint8_t* ImageBytes::at(std::uint64_t offset, std::uint64_t size) const {
    if (!contains(offset, size)) {
        malformedImage("field outside the file");
    }
    return start + offset;
}

std::uint16_t ImageBytes::u16(std::uint64_t offset) const {
    const std::uint8_t* p = at(offset, 2);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t ImageBytes::u32(std::uint64_t offset) const {
    const std::uint8_t* p = at(offset, 4);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

ImageBytes ImageBytes::slice(std::uint64_t offset, std::uint64_t size) const {
    return ImageBytes(at(offset, size), static_cast<std::size_t>(size));
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset + 1);
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    bytes.at(offset + 3);
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace kp::platform
