// Writes animation clips that AviClip reads back: RIFF AVI, one video stream of 8-bit
// palette pictures, uncompressed or RLE8, with an index.
#pragma once

#include "AviClip.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kp {

enum class AviCoding { Uncompressed, Rle8 };

struct AviMovie {
    int width = 0;
    int height = 0;
    // Palette indexes, width x height each, top row first.
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<AviColor> palette; // up to 256 entries
    std::uint32_t microsecondsPerFrame = 100'000;
    AviCoding coding = AviCoding::Rle8;
    // Other than 8 only for uncompressed pictures given to WriteCodedAvi.
    int bitsPerPixel = 8;
};

// One picture as RLE8 (bottom row first, each row closed by an end-of-line code, the
// last by end-of-picture): runs of two or more equal pixels as runs, the rest as
// literals.
std::vector<std::uint8_t> EncodeRle8(const std::vector<std::uint8_t>& pixels, int width,
                                     int height);

// The whole file.
std::vector<std::uint8_t> WriteAvi(const AviMovie& movie);

// The whole file around pictures already coded as movie.coding says (movie.frames is
// not read). A negative height marks uncompressed pictures stored top row first.
std::vector<std::uint8_t> WriteCodedAvi(const AviMovie& movie,
                                        const std::vector<std::vector<std::uint8_t>>& pictures);

// Appends a RIFF chunk (id, little-endian size, data, pad byte to an even length).
void AppendChunk(std::vector<std::uint8_t>& out, const char (&id)[5],
                 const std::vector<std::uint8_t>& data);
// Appends a LIST chunk of the given type around body.
void AppendList(std::vector<std::uint8_t>& out, const char (&type)[5],
                const std::vector<std::uint8_t>& body);
void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value);
void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value);

} // namespace kp
