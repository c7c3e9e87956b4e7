// The compression methods the builder offers; the ordinal is the service's type code.
#pragma once

namespace kp {

enum TCompressionType { ctNone = 0, ctMsZip = 1, ctQuantum = 2, ctLzx = 3 };

// The LZX windows a cabinet allows, as base-2 logarithms of their size: 32 KB to 2 MB.
inline constexpr int kMinLzxWindow = 15;
inline constexpr int kMaxLzxWindow = 21;
constexpr bool LzxWindowValid(long long Bits) {
    return Bits >= kMinLzxWindow && Bits <= kMaxLzxWindow;
}

// How hard LZX works: 1 is the default; each level above it searches further and
// parses more times for a smaller cabinet, in more time. MSZIP is the same at all.
inline constexpr int kMinEffort = 1;
inline constexpr int kMaxEffort = 3;

} // namespace kp
