#include "platform/FileReplace.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kp::platform {

bool identityOf(const std::string& path, FileIdentity& identity) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return failWithErrno();
    }
    identity = {static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino)};
    return true;
}

namespace {

// Without renameat2's no-replace flag (some file systems lack it), a hard link does
// the same: it fails when the name exists, and the old name is dropped after it.
bool linkThenUnlink(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        return failWithErrno(true);
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace

bool giveCreationPermissions(const std::string& path) {
    // The umask can only be read by setting it; it is put back at once.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(path.c_str(), 0666 & ~mask) != 0) {
        return failWithErrno(true);
    }
    return true;
}

bool renameOnto(const std::string& from, const std::string& to, bool replace) {
    if (auto fault = takeFault(FileOperation::Rename, to)) {
        setLastError(*fault);
        return false;
    }
    if (replace) {
        if (std::rename(from.c_str(), to.c_str()) != 0) {
            return failWithErrno(true);
        }
        setLastError(kErrorSuccess);
        return true;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            return failWithErrno(true);
        }
        if (!linkThenUnlink(from, to)) {
            return false;
        }
    }
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
