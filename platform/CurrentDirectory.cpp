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
        setLastError(folderErrorFromErrno(errno));
        return false;
    }
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
