#include "platform/Files.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace kp::platform {
namespace {

// Faults are matched by path, so every open handle remembers the name it was opened by.
std::mutex handlesMutex;
std::unordered_map<FileHandle, std::string> openHandles;

bool handlePath(FileHandle handle, std::string& path) {
    std::lock_guard lock(handlesMutex);
    auto found = openHandles.find(handle);
    if (found == openHandles.end()) {
        return false;
    }
    path = found->second;
    return true;
}

bool failWith(std::uint32_t error) {
    setLastError(error);
    return false;
}

// The handle is known to be open, so EBADF means it was opened without this access.
bool failTransfer(bool writing) {
    return errno == EBADF ? failWith(kErrorAccessDenied) : failWithErrno(writing);
}

// A fault first, then an unknown handle, fails the call before the system sees it.
bool admitHandleCall(FileOperation operation, FileHandle handle) {
    std::string path;
    if (!handlePath(handle, path)) {
        return failWith(kErrorInvalidHandle);
    }
    if (auto fault = takeFault(operation, path)) {
        return failWith(*fault);
    }
    return true;
}

// Moves `count` bytes through `step` (a read or write of what is left after `done`
// bytes), retrying on interruption. A read stops at the end of the file; a write that
// moves nothing means the disk is full.
template <typename Step>
bool transferAll(FileOperation operation, FileHandle handle, std::uint32_t count,
                 std::uint32_t& transferred, Step step) {
    transferred = 0;
    if (!admitHandleCall(operation, handle)) {
        return false;
    }
    const bool writing = operation == FileOperation::Write;
    while (transferred < count) {
        ssize_t moved = step(transferred);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failTransfer(writing);
        }
        if (moved == 0) {
            if (writing) {
                return failWith(kErrorDiskFull);
            }
            break;
        }
        transferred += static_cast<std::uint32_t>(moved);
    }
    setLastError(kErrorSuccess);
    return true;
}

int openFlags(FileAccess access, FileDisposition disposition) {
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    switch (access) {
    case FileAccess::Read:
        flags |= O_RDONLY;
        break;
    case FileAccess::Write:
        flags |= O_WRONLY;
        break;
    case FileAccess::ReadWrite:
        flags |= O_RDWR;
        break;
    }
    switch (disposition) {
    case FileDisposition::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case FileDisposition::CreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    case FileDisposition::OpenExisting:
        break;
    case FileDisposition::OpenAlways:
        flags |= O_CREAT;
        break;
    case FileDisposition::TruncateExisting:
        flags |= O_TRUNC;
        break;
    }
    return flags;
}

} // namespace

std::uint32_t attributesOf(const std::string& name, unsigned mode) {
    std::uint32_t attributes = 0;
    // A folder named with a trailing separator is still judged by its own name.
    std::string::size_type end = name.find_last_not_of(kPathSeparator);
    std::string last = namePart(end == std::string::npos ? std::string() : name.substr(0, end + 1));
    if (!last.empty() && last[0] == '.' && last != "." && last != "..") {
        attributes |= kAttrHidden;
    }
    if (S_ISDIR(mode)) {
        attributes |= kAttrDirectory;
    } else {
        attributes |= kAttrArchive;
        if (!(mode & S_IWUSR)) {
            attributes |= kAttrReadOnly;
        }
    }
    return attributes;
}

FileHandle openFile(const std::string& path, FileAccess access, FileDisposition disposition,
                    bool sequentialHint) {
    if (auto fault = takeFault(FileOperation::Open, path)) {
        setLastError(*fault);
        return kInvalidHandle;
    }
    if (path.empty()) {
        setLastError(kErrorPathNotFound);
        return kInvalidHandle;
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    int fd = ::open(path.c_str(), openFlags(access, disposition), 0666);
    if (fd < 0) {
        std::uint32_t error = errorFromErrno(errno);
        setLastError(error == kErrorFileNotFound ? notFoundError(path) : error);
        return kInvalidHandle;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        setLastError(kErrorAccessDenied);
        return kInvalidHandle;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (sequentialHint) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    {
        std::lock_guard lock(handlesMutex);
        openHandles[fd] = path;
    }
    setLastError(kErrorSuccess);
    return fd;
}

bool readFile(FileHandle handle, void* buffer, std::uint32_t count, std::uint32_t& transferred) {
    auto* bytes = static_cast<char*>(buffer);
    return transferAll(FileOperation::Read, handle, count, transferred, [&](std::uint32_t done) {
        return ::read(static_cast<int>(handle), bytes + done, count - done);
    });
}

bool writeFile(FileHandle handle, const void* buffer, std::uint32_t count,
               std::uint32_t& transferred) {
    const auto* bytes = static_cast<const char*>(buffer);
    return transferAll(FileOperation::Write, handle, count, transferred, [&](std::uint32_t done) {
        return ::write(static_cast<int>(handle), bytes + done, count - done);
    });
}

std::int64_t seekFile(FileHandle handle, std::int64_t distance, SeekOrigin origin) {
    if (!admitHandleCall(FileOperation::Seek, handle)) {
        return -1;
    }
    int whence = SEEK_SET;
    switch (origin) {
    case SeekOrigin::Begin:
        whence = SEEK_SET;
        break;
    case SeekOrigin::Current:
        whence = SEEK_CUR;
        break;
    case SeekOrigin::End:
        whence = SEEK_END;
        break;
    default:
        setLastError(kErrorInvalidParameter);
        return -1;
    }
    off_t base = 0;
    if (origin != SeekOrigin::Begin) {
        base = ::lseek(static_cast<int>(handle), 0, whence);
        if (base < 0) {
            failWithErrno();
            return -1;
        }
    }
    if ((distance < 0 && base + distance < 0) ||
        (distance > 0 && base > std::numeric_limits<off_t>::max() - distance)) {
        setLastError(distance < 0 ? kErrorNegativeSeek : kErrorInvalidParameter);
        return -1;
    }
    off_t position = ::lseek(static_cast<int>(handle), base + distance, SEEK_SET);
    if (position < 0) {
        failWithErrno();
        return -1;
    }
    setLastError(kErrorSuccess);
    return position;
}

bool closeFile(FileHandle handle) {
    std::string path;
    if (!handlePath(handle, path)) {
        return failWith(kErrorInvalidHandle);
    }
    // The handle is released even when a fault is reported, as a failed close on
    // Windows still invalidates it; otherwise a test's injected fault would leak it.
    {
        std::lock_guard lock(handlesMutex);
        openHandles.erase(handle);
    }
    int result = ::close(static_cast<int>(handle));
    if (auto fault = takeFault(FileOperation::Close, path)) {
        return failWith(*fault);
    }
    if (result != 0 && errno != EINTR) {
        return failWithErrno(true);
    }
    setLastError(kErrorSuccess);
    return true;
}

bool deleteFile(const std::string& path) {
    if (auto fault = takeFault(FileOperation::Delete, path)) {
        return failWith(*fault);
    }
    if (::unlink(path.c_str()) != 0) {
        return failWithErrno();
    }
    setLastError(kErrorSuccess);
    return true;
}

bool fileInformation(FileHandle handle, FileInformation& information) {
    if (!admitHandleCall(FileOperation::Information, handle)) {
        return false;
    }
    struct stat status {};
    if (::fstat(static_cast<int>(handle), &status) != 0) {
        return failWithErrno();
    }
    std::string path;
    handlePath(handle, path);
    information.size = static_cast<std::uint64_t>(status.st_size);
    information.lastWriteTime = status.st_mtim;
    information.attributes = attributesOf(path, status.st_mode);
    setLastError(kErrorSuccess);
    return true;
}

std::uint32_t fileAttributes(const std::string& path) {
    if (auto fault = takeFault(FileOperation::Attributes, path)) {
        setLastError(*fault);
        return kInvalidFileAttributes;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        failWithErrno();
        return kInvalidFileAttributes;
    }
    setLastError(kErrorSuccess);
    return attributesOf(path, status.st_mode);
}

std::uint32_t notFoundError(const std::string& path) {
    const std::string folder = folderPart(path);
    struct stat status {};
    bool folderThere =
        folder.empty() || (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
    return folderThere ? kErrorFileNotFound : kErrorPathNotFound;
}

bool fileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

PathKind pathKind(const std::string& path, bool followLinks) {
    if (auto fault = takeFault(FileOperation::Status, path)) {
        setLastError(*fault);
        return PathKind::Missing;
    }
    struct stat status {};
    int result = followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
    if (result != 0) {
        failWithErrno();
        return PathKind::Missing;
    }
    setLastError(kErrorSuccess);
    if (S_ISREG(status.st_mode)) {
        return PathKind::File;
    }
    if (S_ISDIR(status.st_mode)) {
        return PathKind::Folder;
    }
    return S_ISLNK(status.st_mode) ? PathKind::Link : PathKind::Other;
}

bool fileSize(const std::string& path, std::uint64_t& size) {
    if (auto fault = takeFault(FileOperation::Status, path)) {
        setLastError(*fault);
        return false;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return failWithErrno();
    }
    size = static_cast<std::uint64_t>(status.st_size);
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
