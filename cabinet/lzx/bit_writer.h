// LZX reads its bits as 16-bit little-endian words, most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../checks.h"

namespace kp::cab::lzx {

class BitWriter {
public:
    // Between calls fewer than 16 bits wait in the accumulator, so one put() of
    // at most kMaxPutBits never pushes a pending bit out of it.
    static constexpr unsigned kMaxPutBits = 32;
    static_assert(15 + kMaxPutBits <= 64, "the accumulator holds the waiting bits and one put");

    BitWriter() = default;
    // Writes at most capacity bytes to out; what goes beyond is counted, not written.
    BitWriter(std::uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    // The low `count` bits of bits, count <= kMaxPutBits; higher bits are ignored.
    void put(std::uint32_t bits, unsigned count) {
        if constexpr (kExpensiveChecks) {
            if (count > kMaxPutBits) {
                invariantBroken("bit writer: more bits than one put takes", size_, count,
                                kMaxPutBits);
            }
        }
        acc_ = (acc_ << count) | (bits & ((std::uint64_t(1) << count) - 1));
        pending_ += count;
        while (pending_ >= 16) {
            pending_ -= 16;
            word(std::uint16_t(acc_ >> pending_));
        }
    }

    // Zero bits up to the next word boundary; none when already there.
    void alignToWord() {
        if (pending_) {
            put(0, 16 - pending_);
        }
    }

    bool aligned() const { return pending_ == 0; }

    // Raw bytes, only at a word boundary (uncompressed blocks).
    void bytes(const std::uint8_t* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            byte(data[i]);
        }
    }
    void byte(std::uint8_t b) {
        if (size_ < capacity_) {
            out_[size_] = b;
        } else {
            overflow_ = true;
        }
        ++size_;
    }

    std::size_t size() const { return size_; }
    bool overflowed() const { return overflow_; }
    // Bits written so far, including those not yet flushed into a word.
    std::uint64_t bitCount() const { return std::uint64_t(size_) * 8 + pending_; }

private:
    void word(std::uint16_t w) {
        byte(std::uint8_t(w));
        byte(std::uint8_t(w >> 8));
    }

    std::uint8_t* out_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    std::uint64_t acc_ = 0;
    unsigned pending_ = 0;
    bool overflow_ = false;
};

} // namespace kp::cab::lzx
