// Length-limited canonical Huffman codes for the LZX trees.
#pragma once

#include <cstdint>

namespace kp::cab::lzx {

constexpr unsigned kMaxHuffmanSymbols = 656;

// Code lengths for freq[0..n), none longer than maxLength, forming a complete
// code (Kraft sum exactly one). Decoders reject incomplete codes, so at least
// two symbols always get a length, used or not.
void buildCodeLengths(const std::uint32_t* freq, unsigned n, unsigned maxLength,
                      std::uint8_t* lengths);

// Canonical codes: shorter codes first, equal lengths in symbol order.
void assignCodes(const std::uint8_t* lengths, unsigned n, std::uint16_t* codes);

} // namespace kp::cab::lzx
