// Bounds-checked little-endian access to the bytes of an executable image. Every
// read of an untrusted file goes through here, so a field that points outside the
// file ends the parse with an ImageError instead of reading past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace kp::platform {

// A failure while reading or rewriting an image, with the last-error code to report.
class ImageError : public std::runtime_error {
public:
    ImageError(std::uint32_t code, const char* what) : std::runtime_error(what), code(code) {}
    std::uint32_t code;
};

// Throws the "bad executable format" error; the reason is for debugging only.
[[noreturn]] void malformedImage(const char* reason);

class ImageBytes {
public:
    ImageBytes() = default;
    ImageBytes(const std::uint8_t* data, std::size_t size) : start(data), length(size) {}
    explicit ImageBytes(const std::vector<std::uint8_t>& bytes)
        : start(bytes.data()), length(bytes.size()) {}

    const std::uint8_t* data() const { return start; }
    std::size_t size() const { return length; }

    std::uint8_t u8(std::uint64_t offset) const { return *at(offset, 1); }
    std::uint16_t u16(std::uint64_t offset) const;
    std::uint32_t u32(std::uint64_t offset) const;

    // The `size` bytes at `offset`; throws when they are not all inside.
    ImageBytes slice(std::uint64_t offset, std::uint64_t size) const;
    bool contains(std::uint64_t offset, std::uint64_t size) const {
        return offset <= length && size <= length - offset;
    }

private:
    const std::uint8_t* at(std::uint64_t offset, std::uint64_t size) const;

    const std::uint8_t* start = nullptr;
    std::size_t length = 0;
};

void put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// `value` rounded up to a multiple of `alignment`, a power of two.
constexpr std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

} // namespace kp::platform
