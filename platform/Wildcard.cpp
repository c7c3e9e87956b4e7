#include "platform/Wildcard.h"

namespace kp::platform {
namespace {

// Iterative glob with one backtrack point: linear in practice, no recursion depth
// to exhaust on long masks.
bool globMatch(const std::string& name, const std::string& mask) {
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

} // namespace

bool matchesMask(const std::string& name, const std::string& mask) {
    if (globMatch(name, mask)) {
        return true;
    }
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0) {
        return globMatch(name, mask.substr(0, mask.size() - 2));
    }
    return false;
}

bool hasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

} // namespace kp::platform
