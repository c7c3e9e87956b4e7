// Byte layout of the Microsoft Cabinet structures we write (all little-endian).
// Every field's offset is named once here, in the manner of libmspack's cab.h; the
// writers and the tests' readers both go through these names.
#pragma once

#include <cstdint>

#include "fci.h"

namespace kp::cab {

// CFHEADER up to its optional fields.
namespace cfheader {
constexpr std::uint32_t kSignature = 0x00;    // "MSCF"
constexpr std::uint32_t kCabinetSize = 0x08;  // u32, the whole file
constexpr std::uint32_t kFilesOffset = 0x10;  // u32, where the first CFFILE starts
constexpr std::uint32_t kVersionMinor = 0x18; // u8
constexpr std::uint32_t kVersionMajor = 0x19; // u8
constexpr std::uint32_t kFolderCount = 0x1A;  // u16
constexpr std::uint32_t kFileCount = 0x1C;    // u16
constexpr std::uint32_t kFlags = 0x1E;        // u16, the kFlag... bits below
constexpr std::uint32_t kSetId = 0x20;        // u16
constexpr std::uint32_t kCabinetIndex = 0x22; // u16, the cabinet's place in its set, from 0
constexpr std::uint32_t kSize = 0x24;
} // namespace cfheader

// The reserve sizes that follow CFHEADER when kFlagReservePresent is set; the header's
// own reserve area comes right after them.
namespace cfreserve {
constexpr std::uint32_t kHeaderReserve = 0x00; // u16
constexpr std::uint32_t kFolderReserve = 0x02; // u8
constexpr std::uint32_t kDataReserve = 0x03;   // u8
constexpr std::uint32_t kSize = 0x04;
} // namespace cfreserve

// CFFOLDER without its reserve.
namespace cffolder {
constexpr std::uint32_t kDataOffset = 0x00;      // u32, the folder's first CFDATA in the file
constexpr std::uint32_t kBlockCount = 0x04;      // u16
constexpr std::uint32_t kCompressionType = 0x06; // u16, a TCOMP
constexpr std::uint32_t kSize = 0x08;
} // namespace cffolder

// CFFILE without its name, which follows it with its terminating zero.
namespace cffile {
constexpr std::uint32_t kUncompressedSize = 0x00; // u32
constexpr std::uint32_t kFolderOffset = 0x04;     // u32, where the file starts in its folder
constexpr std::uint32_t kFolderIndex = 0x08;      // u16, or one of kFolderContinued...
constexpr std::uint32_t kDate = 0x0A;             // u16, DOS date
constexpr std::uint32_t kTime = 0x0C;             // u16, DOS time
constexpr std::uint32_t kAttributes = 0x0E;       // u16, _A_... of fci.h
constexpr std::uint32_t kSize = 0x10;
} // namespace cffile

// CFDATA without its reserve, which comes before the payload.
namespace cfdata {
constexpr std::uint32_t kChecksum = 0x00;         // u32
constexpr std::uint32_t kCompressedSize = 0x04;   // u16, payload bytes
constexpr std::uint32_t kUncompressedSize = 0x06; // u16, 0 for the first half of a split block
constexpr std::uint32_t kSize = 0x08;
} // namespace cfdata

// Format version 1.3, the only one readers know.
constexpr std::uint8_t kVersionMajor = 1;
constexpr std::uint8_t kVersionMinor = 3;

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
// A cabinet's place in its set is a 16-bit field counted from 0.
constexpr std::uint32_t kMaxCabinetsPerSet = 0xFFFF;
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

inline std::uint32_t getU16(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}

inline std::uint32_t getU32(const std::uint8_t* p) {
    return getU16(p) | getU16(p + 2) << 16;
}

// The CFDATA checksum: 32-bit little-endian words XORed together, with a tail of
// one to three bytes folded in most significant byte first.
std::uint32_t cabChecksum(const std::uint8_t* data, std::uint32_t size, std::uint32_t seed);

// Fills a CFDATA header (and zeroes its reserve) for the given payload.
void encodeDataHeader(std::uint8_t* header, std::uint32_t reserve, const std::uint8_t* data,
                      std::uint32_t compressedSize, std::uint32_t uncompressedSize);

} // namespace kp::cab
