#include "checks.h"

#include <cstdio>
#include <cstdlib>

namespace kp::cab {

void invariantBroken(const char* what, std::uint64_t position, std::uint64_t a, std::uint64_t b) {
    std::fprintf(stderr, "cabinet invariant broken: %s at position %llu (%llu, %llu)\n", what,
                 static_cast<unsigned long long>(position), static_cast<unsigned long long>(a),
                 static_cast<unsigned long long>(b));
    std::abort();
}

} // namespace kp::cab
