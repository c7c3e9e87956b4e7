// Byte layout of the Microsoft Cabinet structures we write (all little-endian).
#pragma once

#include <cstdint>

namespace kp::cab {

constexpr std::uint32_t kHeaderFixedSize = 36;    // CFHEADER up to its optional fields
constexpr std::uint32_t kHeaderReserveFields = 4; // cbCFHeader, cbCFFolder, cbCFData
constexpr std::uint32_t kFolderFixedSize = 8;     // CFFOLDER without its reserve
constexpr std::uint32_t kFileFixedSize = 16;      // CFFILE without its name
constexpr std::uint32_t kDataFixedSize = 8;       // CFDATA without its reserve

constexpr std::uint16_t kFlagPrevCabinet = 0x0001;
constexpr std::uint16_t kFlagNextCabinet = 0x0002;
constexpr std::uint16_t kFlagReservePresent = 0x0004;

constexpr std::uint16_t kFolderContinuedFromPrev = 0xFFFD;
constexpr std::uint16_t kFolderContinuedToNext = 0xFFFE;
constexpr std::uint16_t kFolderContinuedPrevAndNext = 0xFFFF;

// What the format's 16-bit block count and 32-bit offsets allow.
constexpr std::uint32_t kMaxFolderBytes = 0x7FFF8000; // 65535 blocks of 32 KB
constexpr std::uint32_t kMaxCabinetBytes = 0x7FFFFFFF;
constexpr std::uint32_t kMaxFilesPerCabinet = 0xFFFF;
constexpr std::uint32_t kMaxFoldersPerCabinet = 0xFFFF;
constexpr std::uint32_t kMaxHeaderReserve = 60000;
constexpr std::uint32_t kMaxFolderOrDataReserve = 255;

inline void putU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

inline void putU32(std::uint8_t* p, std::uint32_t v) {
    putU16(p, v);
    putU16(p + 2, v >> 16);
}

// The CFDATA checksum: 32-bit little-endian words XORed together, with a tail of
// one to three bytes folded in most significant byte first.
std::uint32_t cabChecksum(const std::uint8_t* data, std::uint32_t size, std::uint32_t seed);

// Fills a CFDATA header (and zeroes its reserve) for the given payload.
void encodeDataHeader(std::uint8_t* header, std::uint32_t reserve, const std::uint8_t* data,
                      std::uint32_t compressedSize, std::uint32_t uncompressedSize);

} // namespace kp::cab
