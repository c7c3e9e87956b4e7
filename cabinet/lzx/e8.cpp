#include "e8.h"

#include "lzx_format.h"

namespace kp::cab::lzx {

namespace {

std::int32_t load32(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24);
}

void store32(std::uint8_t* p, std::int32_t v) {
    auto u = std::uint32_t(v);
    p[0] = std::uint8_t(u);
    p[1] = std::uint8_t(u >> 8);
    p[2] = std::uint8_t(u >> 16);
    p[3] = std::uint8_t(u >> 24);
}

bool translated(std::uint32_t size, std::uint32_t frameOffset) {
    return size > 10 && frameOffset / kFrameSize < kE8FrameLimit;
}

} // namespace

void e8Translate(std::uint8_t* frame, std::uint32_t size, std::uint32_t frameOffset,
                 std::int32_t translationSize) {
    if (!translated(size, frameOffset)) {
        return;
    }
    // The operand may reach into the last ten bytes, but no call starts there.
    for (std::uint32_t i = 0; i < size - 10; ++i) {
        if (frame[i] != 0xE8) {
            continue;
        }
        auto pos = std::int32_t(frameOffset + i);
        std::int32_t rel = load32(frame + i + 1);
        if (rel >= -pos && rel < translationSize) {
            store32(frame + i + 1, rel < translationSize - pos ? rel + pos : rel - translationSize);
        }
        i += 4;
    }
}

} // namespace kp::cab::lzx
