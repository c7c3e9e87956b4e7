#include "platform/ProgramFolder.h"

#include "platform/Files.h"
#include "platform/LastError.h"

#include <limits.h>
#include <unistd.h>
#include <vector>

namespace kp::platform {

std::string programFolder() {
    std::vector<char> path(PATH_MAX);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        failWithErrno();
        return {};
    }
    std::string program(path.data(), static_cast<std::size_t>(length));
    setLastError(kErrorSuccess);
    return program.substr(0, program.find_last_of(kPathSeparator) + 1);
}

} // namespace kp::platform
