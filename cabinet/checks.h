// Invariants too costly to verify in a release build. The sanitizer build (and
// any build configured with KP_EXPENSIVE_CHECKS) verifies them and stops at the
// first one broken, naming where, rather than write a wrong cabinet.
#pragma once

#include <cstdint>

#ifndef KP_EXPENSIVE_CHECKS
#define KP_EXPENSIVE_CHECKS 0
#endif

namespace kp::cab {

inline constexpr bool kExpensiveChecks = KP_EXPENSIVE_CHECKS != 0;

// Prints "what" with the stream position and the two values, then aborts.
[[noreturn]] void invariantBroken(const char* what, std::uint64_t position, std::uint64_t a,
                                  std::uint64_t b);

} // namespace kp::cab
