#include "platform/TempFiles.h"

#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace kp::platform {

std::string tempFolder() {
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string folder = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    setLastError(kErrorSuccess);
    return withTrailingSeparator(folder);
}

std::string createUniqueTempFile(const std::string& folder, const std::string& prefix) {
    std::string directory = withTrailingSeparator(folder);
    if (auto fault = takeFault(FileOperation::TempName, directory + prefix)) {
        setLastError(*fault);
        return {};
    }
    static const std::string suffix = ".tmp";
    std::string pattern = directory + prefix + "XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        setLastError(folderErrorFromErrno(errno));
        return {};
    }
    ::close(fd);
    setLastError(kErrorSuccess);
    return std::string(name.data());
}

} // namespace kp::platform
