#include "platform/DirectorySearch.h"

#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Wildcard.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace kp::platform {
namespace {

constexpr std::uint32_t kExcludable =
    kAttrHidden | kAttrSystem | kAttrVolumeId | kAttrDirectory | kAttrReparsePoint;

// The entry as the search reports it, or false for a kind that is never reported.
bool describe(int folderFd, const std::string& name, FoundEntry& entry) {
    struct stat status {};
    if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    bool isLink = S_ISLNK(status.st_mode);
    if (isLink && ::fstatat(folderFd, name.c_str(), &status, 0) != 0) {
        return false;
    }
    if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) {
        return false;
    }
    entry.name = name;
    entry.attributes = attributesOf(name, status.st_mode);
    if (isLink && S_ISDIR(status.st_mode)) {
        entry.attributes |= kAttrReparsePoint;
    }
    entry.size = S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0;
    return true;
}

} // namespace

bool findEntries(const std::string& pattern, std::uint32_t admit,
                 std::vector<FoundEntry>& entries) {
    entries.clear();
    std::string::size_type slash = pattern.find_last_of(kPathSeparator);
    std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);

    if (auto fault = takeFault(FileOperation::Search, pattern)) {
        setLastError(*fault);
        return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), &::closedir);
    if (!directory) {
        std::uint32_t error = errorFromErrno(errno);
        setLastError(error == kErrorFileNotFound ? kErrorPathNotFound : error);
        return false;
    }
    int folderFd = ::dirfd(directory.get());
    while (const dirent* item = ::readdir(directory.get())) {
        std::string name = item->d_name;
        if (name == "." || name == ".." || !matchesMask(name, mask)) {
            continue;
        }
        FoundEntry entry;
        if (!describe(folderFd, name, entry)) {
            continue;
        }
        if ((entry.attributes & kExcludable & ~admit) != 0) {
            continue;
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    setLastError(kErrorSuccess);
    return true;
}

} // namespace kp::platform
