// Length-limited canonical Huffman codes for the LZX trees.
#pragma once

#include <cstdint>

#include "lzx_format.h"

namespace kp::cab::lzx {

// The largest tree, the main tree of a 2 MB window.
constexpr unsigned kMaxHuffmanSymbols = kMaxMainSymbols;
static_assert(kMaxCodeLength <= 16, "codes are held in 16 bits");
static_assert(kMaxMainSymbols <= 1u << kMaxCodeLength &&
                  kNumLengthSymbols <= 1u << kMaxCodeLength &&
                  kNumPretreeSymbols <= 1u << kMaxPretreeLength &&
                  kNumAlignedSymbols <= 1u << kMaxAlignedLength,
              "every tree's symbols fit under its length limit");

// Code lengths for freq[0..n), none longer than maxLength, forming a complete
// code (Kraft sum exactly one). Decoders reject incomplete codes, so at least
// two symbols always get a length, used or not. Needs 2 <= n <= kMaxHuffmanSymbols
// and n <= 2^maxLength, maxLength <= kMaxCodeLength, so that such a code exists.
void buildCodeLengths(const std::uint32_t* freq, unsigned n, unsigned maxLength,
                      std::uint8_t* lengths);

// Canonical codes: shorter codes first, equal lengths in symbol order. The
// lengths, none over kMaxCodeLength, must satisfy Kraft's inequality.
void assignCodes(const std::uint8_t* lengths, unsigned n, std::uint16_t* codes);

} // namespace kp::cab::lzx
