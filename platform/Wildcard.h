// File name masks with '*' and '?', matched as Windows matches them but
// case-sensitively, as this platform's names are.
#pragma once

#include <string>

namespace kp::platform {

// "*.*" matches every name, with or without a dot, and generally a mask that ends
// in ".*" also matches the names its part before ".*" matches.
bool matchesMask(const std::string& name, const std::string& mask);

// Whether a name is a mask: it holds a '*' or '?'. Anywhere else a name with either
// is taken literally, though Windows could not store it.
bool hasWildcard(const std::string& name);

} // namespace kp::platform
