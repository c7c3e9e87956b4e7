// Directory search in the manner of Windows' FindFirstFile: a folder and a mask,
// entries filtered by attributes, sorted by name in byte order so that the same
// tree always gives the same cabinet.
#pragma once

#include "platform/LastError.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kp::platform {

enum class EntryKind {
    File,         // a regular file, or a link to one
    Folder,       // a folder, or a link to one (which carries kAttrReparsePoint)
    Special,      // a FIFO, socket or device, which a search never reports
    DanglingLink, // a link whose target cannot be reached, which a search never reports
    Unreadable,   // seen in the listing but not inspected (no search permission on its
                  // folder, say), which a search never reports; FoundEntry::error says why
};

struct FoundEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    EntryKind kind = EntryKind::File;
    // Unreadable only: the system's error, and whether the listing allows that it is a
    // folder (the listing's own type says so, or says nothing).
    std::uint32_t error = 0;
    bool mayBeFolder = false;
};

// A folder held open, so that what is listed and entered through it is what lies in
// that folder even when its path has since been renamed, or replaced by a link.
class FolderHandle {
public:
    FolderHandle() = default;
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle();

    // The folder at `path` (empty for the current folder; links along it followed, since
    // the caller named it); not open, with the last error set (kErrorPathNotFound when
    // it is not there), when it cannot be opened.
    static FolderHandle open(const std::string& path);
    // The sub-folder `name` of this one, never through a link: a link (or anything but
    // a folder) there gives a handle that is not open, with the last error
    // kErrorFolderReplaced.
    FolderHandle openSub(const std::string& name) const;

    bool isOpen() const { return descriptor >= 0; }
    int fd() const { return descriptor; }
    // The path the folder was reached by, ending with the separator (or empty).
    const std::string& path() const { return folderPath; }
    // Whether the path still leads to this very folder (device and inode).
    bool stillAtPath() const;

private:
    int descriptor = -1;
    std::string folderPath;
};

// The last error of FolderHandle::openSub for a sub-folder that has become a link, a
// file or another kind of entry since it was listed.
inline constexpr std::uint32_t kErrorFolderReplaced = kErrorDirectory;

// listEntries over a folder held open; `mask` is matched against the names.
bool listEntriesIn(const FolderHandle& folder, const std::string& mask,
                   std::vector<FoundEntry>& entries);

// Lists the entries of `pattern` (a folder part, possibly empty for the current folder,
// followed by a mask). An entry with the hidden, system, volume, directory or reparse
// bit is left out unless that bit is in `admit`; entries without any of those bits
// always pass. Only folders and regular files are reported (FIFOs, sockets, devices
// and dangling links never are), and never "." or "..". Returns false, with
// kErrorPathNotFound, when the folder cannot be listed; an empty result is success.
bool findEntries(const std::string& pattern, std::uint32_t admit, std::vector<FoundEntry>& entries);

// Every entry of `pattern` but "." and "..", whatever its kind and attributes, in the
// same order: what findEntries would report and what it would leave out, for callers
// that must say what a search passes over. An entry that cannot be inspected is listed
// as Unreadable, never dropped.
bool listEntries(const std::string& pattern, std::vector<FoundEntry>& entries);

// Whether findEntries with `admit` reports the entry.
bool admitted(const FoundEntry& entry, std::uint32_t admit);

} // namespace kp::platform
