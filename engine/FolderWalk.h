// The builder's walk of an entry's folders, in one place: which sub-folders a
// recursive walk enters, which entries it takes as files, and what it passes over.
// The builder's counting and adding passes go through it, and so does anything that
// must tell a user beforehand what a run will leave out, so the two cannot disagree.
#pragma once

#include "platform/DirectorySearch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A folder of a walk, held open, and its whole listing in name order. The builder walks
// through these: a sub-folder is opened through its parent's handle and never through
// a link, so a folder renamed or swapped for a link during the run cannot lead the walk
// out of the tree it was given.
struct WalkFolder {
    platform::FolderHandle Handle;
    std::vector<platform::FoundEntry> Entries;
    // The folder's path as the walk names it, ending with the separator or empty.
    const std::string& Path() const { return Handle.path(); }
};

// Opens and lists the folder at Folder (the walk's top, links followed, as the user
// named it), or the sub-folder Name of Parent. False with the system's error in Error:
// kErrorPathNotFound when it is gone, platform::kErrorFolderReplaced when the
// sub-folder has become a link or a file since Parent was listed.
bool OpenWalkFolder(const std::string& Folder, WalkFolder& Out, std::uint32_t& Error);
bool OpenWalkSubFolder(const WalkFolder& Parent, const std::string& Name, WalkFolder& Out,
                       std::uint32_t& Error);
// Lists the open folder again (after an entry could not be inspected).
bool RelistWalkFolder(WalkFolder& Folder, std::uint32_t& Error);

// The names of Folder's sub-folders the walk enters, and of the files matching Mask it
// takes, by the same rules as the path-based functions above.
std::vector<std::string> EnteredSubFolders(const WalkFolder& Folder);
std::vector<std::string> MatchingFiles(const WalkFolder& Folder, const std::string& Mask);

// The entries of Folder the walk would take (matching Mask) or, with Recursive, might
// enter, but that cannot be inspected: a walk that passed over them would lose them
// without a word.
std::vector<const platform::FoundEntry*>
UninspectableEntries(const WalkFolder& Folder, const std::string& Mask, bool Recursive);

// A seam for tests: called with a folder's path once the walk has listed it and before
// it enters or reads anything in it, so that a test can change the tree between the
// walk's steps. Empty (the default) in the program.
void SetWalkStepHook(std::function<void(const std::string& Folder)> Hook);
void WalkStep(const std::string& Folder);

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
