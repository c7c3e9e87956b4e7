#include "platform/CurrentDirectory.h"

#include "platform/LastError.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace kp::platform {

std::string currentDirectory() {
    std::unique_ptr<char, decltype(&std::free)> path(::getcwd(nullptr, 0), &std::free);
    if (!path) {
        failWithErrno();
        return {};
    }
    setLastError(kErrorSuccess);
    return path.get();
}

bool setCurrentDirectory(const std::string& path) {
    if (::chdir(path.c_str()) != 0) {
        std::uint32_t error = errorFromErrno(errno);
        setLastError(error == kErrorFileNotFound ? kErrorPathNotFound : error);
        return false;
    }
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
