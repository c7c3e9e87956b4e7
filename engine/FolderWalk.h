// The builder's walk of an entry's folders, in one place: which sub-folders a
// recursive walk enters, which entries it takes as files, and what it passes over.
// The builder's counting and adding passes go through it, and so does anything that
// must tell a user beforehand what a run will leave out, so the two cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kp {

// Every `Folder` below ends with the separator, or is empty for the current folder.

// The sub-folders a recursive walk of Folder enters, in enumeration order. Hidden and
// system folders are not entered, nor links to folders, which could make the walk loop.
std::vector<std::string> EnteredSubFolders(const std::string& Folder);

// The files of Folder matching Mask that a walk takes, in enumeration order: every
// regular file (or link to one), hidden, system and read-only ones included.
std::vector<std::string> MatchingFiles(const std::string& Folder, const std::string& Mask);

// The files a walk of Folder + Mask takes; with Recursive, those of every entered
// sub-folder too. A folder that does not exist contributes nothing.
std::int32_t CountFiles(const std::string& Folder, const std::string& Mask, bool Recursive);

// Whether Folder is there but cannot be listed (no permission, a path too long, a
// failing disk), with the system's error in Error: a walk would take it for empty.
bool FolderUnreadable(const std::string& Folder, std::uint32_t& Error);

// The longest path the system opens; a file or folder below a longer one is out of reach
// of every call the walk and the builder make with a whole path.
inline constexpr std::size_t kMaxPathBytes = 4095;

enum class LeftOutReason {
    HiddenFolder,    // not entered
    LinkToFolder,    // not entered
    DanglingLink,    // matches the mask, but leads nowhere
    NotARegularFile, // matches the mask, but is a FIFO, socket or device
    PathTooLong,     // its path (a folder's with the separator) passes kMaxPathBytes
};

struct LeftOutEntry {
    std::string Path;
    LeftOutReason Reason;
};

// What a walk of Folder + Mask passes over, in name order, with each entered
// sub-folder's own entries at its place when Recursive.
std::vector<LeftOutEntry> LeftOutEntries(const std::string& Folder, const std::string& Mask,
                                         bool Recursive);

} // namespace kp
