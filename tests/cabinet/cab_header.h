// Reads the few CFHEADER and CFFOLDER fields tests look at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "cab_format.h"

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
    if (b.size() < cab::cfheader::kSize) {
        return h;
    }
    h.cabinetSize = cab::getU32(&b[cab::cfheader::kCabinetSize]);
    h.folders = cab::getU16(&b[cab::cfheader::kFolderCount]);
    h.files = cab::getU16(&b[cab::cfheader::kFileCount]);
    h.flags = cab::getU16(&b[cab::cfheader::kFlags]);
    h.setIndex = cab::getU16(&b[cab::cfheader::kCabinetIndex]);
    return h;
}

} // namespace kp::test
