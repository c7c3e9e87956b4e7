// Reads the few CFHEADER and CFFOLDER fields tests look at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kp::test {

struct CabHeader {
    std::uint32_t cabinetSize = 0;
    std::uint32_t folders = 0;
    std::uint32_t files = 0;
    std::uint32_t flags = 0;
    std::uint32_t setIndex = 0;
    std::uint64_t fileSize = 0;
};

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline CabHeader readHeader(const std::filesystem::path& p) {
    auto b = readBytes(p);
    CabHeader h;
    h.fileSize = b.size();
    if (b.size() < 36) {
        return h;
    }
    auto u16 = [&](std::size_t o) { return std::uint32_t(b[o] | b[o + 1] << 8); };
    h.cabinetSize = u16(8) | u16(10) << 16;
    h.folders = u16(26);
    h.files = u16(28);
    h.flags = u16(30);
    h.setIndex = u16(34);
    return h;
}

} // namespace kp::test
