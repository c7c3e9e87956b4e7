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

// The entry as a listing describes it, or false for one that is gone already.
bool describe(int folderFd, const std::string& name, FoundEntry& entry) {
    struct stat status {};
    if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    entry.name = name;
    bool isLink = S_ISLNK(status.st_mode);
    if (isLink && ::fstatat(folderFd, name.c_str(), &status, 0) != 0) {
        entry.kind = EntryKind::DanglingLink;
        entry.attributes = attributesOf(name, status.st_mode);
        return true;
    }
    entry.attributes = attributesOf(name, status.st_mode);
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

} // namespace

bool admitted(const FoundEntry& entry, std::uint32_t admit) {
    bool reportedKind = entry.kind == EntryKind::File || entry.kind == EntryKind::Folder;
    return reportedKind && (entry.attributes & kExcludable & ~admit) == 0;
}

bool listEntries(const std::string& pattern, std::vector<FoundEntry>& entries) {
    entries.clear();
    const std::string folderOfPattern = folderPart(pattern);
    const std::string folder = folderOfPattern.empty() ? std::string(".") : folderOfPattern;
    const std::string mask = namePart(pattern);

    if (auto fault = takeFault(FileOperation::Search, pattern)) {
        setLastError(*fault);
        return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), &::closedir);
    if (!directory) {
        setLastError(folderErrorFromErrno(errno));
        return false;
    }
    int folderFd = ::dirfd(directory.get());
    while (const dirent* item = ::readdir(directory.get())) {
        std::string name = item->d_name;
        if (name == "." || name == ".." || !matchesMask(name, mask)) {
            continue;
        }
        FoundEntry entry;
        if (describe(folderFd, name, entry)) {
            entries.push_back(std::move(entry));
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    setLastError(kErrorSuccess);
    return true;
}

bool findEntries(const std::string& pattern, std::uint32_t admit,
                 std::vector<FoundEntry>& entries) {
    if (!listEntries(pattern, entries)) {
        return false;
    }
    std::erase_if(entries, [admit](const FoundEntry& entry) { return !admitted(entry, admit); });
    return true;
}

} // namespace kp::platform
