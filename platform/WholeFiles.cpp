#include "platform/WholeFiles.h"

#include "platform/LastError.h"
#include "platform/TempFiles.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sys/stat.h>

namespace kp::platform {
namespace {

constexpr std::uint32_t kTransferPiece = 1u << 30;

std::string folderOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of(kPathSeparator);
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Closes the handle, keeping an earlier failure's code as the last error.
bool closeAfter(FileHandle handle, bool succeeded) {
    std::uint32_t earlier = lastError();
    bool closed = closeFile(handle);
    if (!succeeded) {
        setLastError(earlier);
        return false;
    }
    return closed;
}

} // namespace

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    FileHandle handle = openFile(path, FileAccess::Read, FileDisposition::OpenExisting, true);
    if (handle == kInvalidHandle) {
        return false;
    }
    FileInformation information;
    bool ok = fileInformation(handle, information);
    if (ok && information.size > std::numeric_limits<std::size_t>::max() / 2) {
        setLastError(kErrorNotEnoughMemory);
        ok = false;
    }
    if (ok) {
        bytes.assign(static_cast<std::size_t>(information.size), 0);
        std::uint64_t done = 0;
        while (ok && done < bytes.size()) {
            std::uint32_t piece = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(bytes.size() - done, kTransferPiece));
            std::uint32_t got = 0;
            ok = readFile(handle, bytes.data() + done, piece, got);
            if (ok && got != piece) {
                setLastError(kErrorReadFault); // shrank while being read
                ok = false;
            }
            done += got;
        }
    }
    return closeAfter(handle, ok);
}

bool writeAll(FileHandle handle, const std::uint8_t* bytes, std::uint64_t size) {
    for (std::uint64_t done = 0; done < size;) {
        std::uint32_t piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(size - done, kTransferPiece));
        std::uint32_t written = 0;
        if (!writeFile(handle, bytes + done, piece, written)) {
            return false;
        }
        done += written;
    }
    return true;
}

bool replaceWholeFile(const std::string& target, unsigned mode,
                      const std::function<bool(FileHandle)>& fill) {
    std::string temporary = createUniqueTempFile(folderOf(target), ".kp-");
    if (temporary.empty()) {
        return false;
    }
    FileHandle handle = openFile(temporary, FileAccess::Write, FileDisposition::TruncateExisting);
    bool ok = handle != kInvalidHandle;
    if (ok) {
        ok = closeAfter(handle, fill(handle));
    }
    if (ok && ::chmod(temporary.c_str(), mode & 07777) != 0) {
        ok = failWithErrno(true);
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = failWithErrno(true);
    }
    if (!ok) {
        std::uint32_t failure = lastError();
        deleteFile(temporary);
        setLastError(failure);
        return false;
    }
    setLastError(kErrorSuccess);
    return true;
}

unsigned permissionBits(const std::string& path, unsigned fallback) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<unsigned>(status.st_mode & 07777)
                                              : fallback;
}

} // namespace kp::platform
