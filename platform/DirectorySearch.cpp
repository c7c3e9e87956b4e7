#include "platform/DirectorySearch.h"

#include "platform/FaultInjection.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/Wildcard.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kp::platform {
namespace {

constexpr std::uint32_t kExcludable =
    kAttrHidden | kAttrSystem | kAttrVolumeId | kAttrDirectory | kAttrReparsePoint;

// The entry as a listing describes it, or false for one that is gone already. One
// that is there but cannot be inspected is Unreadable with the system's reason.
bool describe(int folderFd, const dirent& item, FoundEntry& entry) {
    const char* name = item.d_name;
    entry.name = name;
    struct stat status {};
    if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        entry.kind = EntryKind::Unreadable;
        entry.error = errorFromErrno(errno);
        entry.mayBeFolder = item.d_type == DT_DIR || item.d_type == DT_UNKNOWN;
        entry.attributes = attributesOf(entry.name, 0);
        return true;
    }
    bool isLink = S_ISLNK(status.st_mode);
    if (isLink && ::fstatat(folderFd, name, &status, 0) != 0) {
        entry.kind = EntryKind::DanglingLink;
        entry.attributes = attributesOf(entry.name, status.st_mode);
        return true;
    }
    entry.attributes = attributesOf(entry.name, status.st_mode);
    if (S_ISDIR(status.st_mode)) {
        entry.kind = EntryKind::Folder;
        if (isLink) {
            entry.attributes |= kAttrReparsePoint;
        }
    } else if (S_ISREG(status.st_mode)) {
        entry.kind = EntryKind::File;
        entry.size = static_cast<std::uint64_t>(status.st_size);
    } else {
        entry.kind = EntryKind::Special;
    }
    return true;
}

bool identityOfFd(int descriptor, FileIdentity& identity) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        return false;
    }
    identity = {static_cast<std::uint64_t>(status.st_dev),
                static_cast<std::uint64_t>(status.st_ino)};
    return true;
}

} // namespace

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : descriptor(other.descriptor), folderPath(std::move(other.folderPath)) {
    other.descriptor = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
        descriptor = other.descriptor;
        folderPath = std::move(other.folderPath);
        other.descriptor = -1;
    }
    return *this;
}

FolderHandle::~FolderHandle() {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

FolderHandle FolderHandle::open(const std::string& path) {
    FolderHandle folder;
    folder.folderPath = path;
    folder.descriptor =
        ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.descriptor < 0) {
        setLastError(folderErrorFromErrno(errno));
    }
    return folder;
}

FolderHandle FolderHandle::openSub(const std::string& name) const {
    FolderHandle folder;
    folder.folderPath = folderPath + name + kPathSeparator;
    folder.descriptor =
        ::openat(descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder.descriptor < 0) {
        // O_NOFOLLOW gives ELOOP for a link, O_DIRECTORY ENOTDIR for anything else.
        setLastError(errno == ELOOP || errno == ENOTDIR ? kErrorFolderReplaced
                                                        : folderErrorFromErrno(errno));
    }
    return folder;
}

bool FolderHandle::stillAtPath() const {
    FileIdentity held;
    FileIdentity now;
    return isOpen() && identityOfFd(descriptor, held) &&
           identityOf(folderPath.empty() ? "." : folderPath, now) && held == now;
}

bool admitted(const FoundEntry& entry, std::uint32_t admit) {
    bool reportedKind = entry.kind == EntryKind::File || entry.kind == EntryKind::Folder;
    return reportedKind && (entry.attributes & kExcludable & ~admit) == 0;
}

namespace {
bool listOpenFolder(const FolderHandle& folder, const std::string& mask,
                    std::vector<FoundEntry>& entries);
} // namespace

bool listEntries(const std::string& pattern, std::vector<FoundEntry>& entries) {
    entries.clear();
    if (auto fault = takeFault(FileOperation::Search, pattern)) {
        setLastError(*fault);
        return false;
    }
    FolderHandle folder = FolderHandle::open(folderPart(pattern));
    return folder.isOpen() && listOpenFolder(folder, namePart(pattern), entries);
}

bool listEntriesIn(const FolderHandle& folder, const std::string& mask,
                   std::vector<FoundEntry>& entries) {
    entries.clear();
    if (auto fault = takeFault(FileOperation::Search, folder.path() + mask)) {
        setLastError(*fault);
        return false;
    }
    return listOpenFolder(folder, mask, entries);
}

namespace {

bool listOpenFolder(const FolderHandle& folder, const std::string& mask,
                    std::vector<FoundEntry>& entries) {
    // The listing reads through a descriptor of its own, so the handle's stays usable.
    int listingFd = ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
    if (listingFd < 0) {
        setLastError(folderErrorFromErrno(errno));
        return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::fdopendir(listingFd), &::closedir);
    if (!directory) {
        setLastError(folderErrorFromErrno(errno));
        ::close(listingFd);
        return false;
    }
    ::rewinddir(directory.get());
    int folderFd = ::dirfd(directory.get());
    errno = 0;
    while (const dirent* item = ::readdir(directory.get())) {
        std::string name = item->d_name;
        if (name == "." || name == ".." || !matchesMask(name, mask)) {
            errno = 0;
            continue;
        }
        FoundEntry entry;
        if (describe(folderFd, *item, entry)) {
            entries.push_back(std::move(entry));
        }
        errno = 0;
    }
    if (errno != 0) {
        // A listing cut short would pass for a complete one.
        setLastError(folderErrorFromErrno(errno));
        entries.clear();
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    setLastError(kErrorSuccess);
    return true;
}

} // namespace

bool findEntries(const std::string& pattern, std::uint32_t admit,
                 std::vector<FoundEntry>& entries) {
    if (!listEntries(pattern, entries)) {
        return false;
    }
    std::erase_if(entries, [admit](const FoundEntry& entry) { return !admitted(entry, admit); });
    return true;
}

} // namespace kp::platform
