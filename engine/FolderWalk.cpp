#include "engine/FolderWalk.h"

#include "platform/DirectorySearch.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Wildcard.h"

#include <algorithm>
#include <optional>

namespace kp {
namespace {

using namespace platform;

// What the walk admits of a folder's listing: sub-folders that are not hidden, system
// or links (the directory bit alone); files whatever their attributes.
constexpr std::uint32_t kSubFolderAdmit = kAttrDirectory;
constexpr std::uint32_t kFileAdmit = kAttrAnyFile;

// Sub-folders are looked for with a mask of their own, whatever the entry's mask.
constexpr const char* kEveryName = "*.*";

bool IsEnteredFolder(const FoundEntry& entry) {
    return entry.kind == EntryKind::Folder && admitted(entry, kSubFolderAdmit);
}

bool IsTakenFile(const FoundEntry& entry) {
    return entry.kind == EntryKind::File && admitted(entry, kFileAdmit);
}

// The reason the walk gives for passing over an entry of a listing, if it does.
std::optional<LeftOutReason> ReasonLeftOut(const FoundEntry& entry) {
    switch (entry.kind) {
    case EntryKind::Folder:
        if (IsEnteredFolder(entry)) {
            return std::nullopt;
        }
        return (entry.attributes & kAttrReparsePoint) ? LeftOutReason::LinkToFolder
                                                      : LeftOutReason::HiddenFolder;
    case EntryKind::DanglingLink:
        return LeftOutReason::DanglingLink;
    case EntryKind::Special:
        return LeftOutReason::NotARegularFile;
    case EntryKind::Unreadable: // not passed over: the builder reports it
    case EntryKind::File:
        break;
    }
    return std::nullopt;
}

std::vector<FoundEntry> Listing(const std::string& pattern) {
    std::vector<FoundEntry> entries;
    listEntries(pattern, entries); // a folder that cannot be listed holds nothing
    return entries;
}

void CollectLeftOut(const std::string& Folder, const std::string& Mask, bool Recursive,
                    std::vector<LeftOutEntry>& leftOut) {
    // An entry with no reason is a sub-folder the walk enters.
    std::vector<std::pair<std::string, std::optional<LeftOutReason>>> found;
    if (Recursive) {
        for (const FoundEntry& entry : Listing(Folder + kEveryName)) {
            if (entry.kind == EntryKind::Folder) {
                found.emplace_back(entry.name, ReasonLeftOut(entry));
            }
        }
    }
    for (const FoundEntry& entry : Listing(Folder + Mask)) {
        if (entry.kind == EntryKind::File && Folder.size() + entry.name.size() > kMaxPathBytes) {
            found.emplace_back(entry.name, LeftOutReason::PathTooLong);
        } else if (entry.kind != EntryKind::Folder) {
            if (auto reason = ReasonLeftOut(entry)) {
                found.emplace_back(entry.name, reason);
            }
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, reason] : found) {
        // An entered folder is opened by its path with the separator.
        if (!reason && Folder.size() + name.size() + 1 > kMaxPathBytes) {
            leftOut.push_back({Folder + name, LeftOutReason::PathTooLong});
        } else if (reason) {
            leftOut.push_back({Folder + name, *reason});
        } else {
            CollectLeftOut(Folder + name + kPathSeparator, Mask, true, leftOut);
        }
    }
}

} // namespace

namespace {

std::function<void(const std::string&)>& WalkStepHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

} // namespace

void SetWalkStepHook(std::function<void(const std::string& Folder)> Hook) {
    WalkStepHook() = std::move(Hook);
}

void WalkStep(const std::string& Folder) {
    if (WalkStepHook()) {
        WalkStepHook()(Folder);
    }
}

bool RelistWalkFolder(WalkFolder& Folder, std::uint32_t& Error) {
    if (!listEntriesIn(Folder.Handle, kEveryName, Folder.Entries)) {
        Error = lastError();
        return false;
    }
    return true;
}

bool OpenWalkFolder(const std::string& Folder, WalkFolder& Out, std::uint32_t& Error) {
    Out.Entries.clear();
    Out.Handle = FolderHandle::open(Folder);
    if (!Out.Handle.isOpen()) {
        Error = lastError();
        return false;
    }
    return RelistWalkFolder(Out, Error);
}

bool OpenWalkSubFolder(const WalkFolder& Parent, const std::string& Name, WalkFolder& Out,
                       std::uint32_t& Error) {
    Out.Entries.clear();
    Out.Handle = Parent.Handle.openSub(Name);
    if (!Out.Handle.isOpen()) {
        Error = lastError();
        return false;
    }
    return RelistWalkFolder(Out, Error);
}

std::vector<std::string> EnteredSubFolders(const WalkFolder& Folder) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : Folder.Entries) {
        if (IsEnteredFolder(entry)) {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::vector<std::string> MatchingFiles(const WalkFolder& Folder, const std::string& Mask) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : Folder.Entries) {
        if (IsTakenFile(entry) && matchesMask(entry.name, Mask)) {
            names.push_back(entry.name);
        }
    }
    return names;
}

// A hidden name is never entered as a folder, so only its match with the mask counts.
std::vector<const FoundEntry*> UninspectableEntries(const WalkFolder& Folder,
                                                    const std::string& Mask, bool Recursive) {
    std::vector<const FoundEntry*> found;
    for (const FoundEntry& entry : Folder.Entries) {
        if (entry.kind != EntryKind::Unreadable) {
            continue;
        }
        bool enterable = Recursive && entry.mayBeFolder && (entry.attributes & kAttrHidden) == 0;
        if (enterable || matchesMask(entry.name, Mask)) {
            found.push_back(&entry);
        }
    }
    return found;
}

std::vector<std::string> EnteredSubFolders(const std::string& Folder) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : Listing(Folder + kEveryName)) {
        if (IsEnteredFolder(entry)) {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::vector<std::string> MatchingFiles(const std::string& Folder, const std::string& Mask) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : Listing(Folder + Mask)) {
        if (IsTakenFile(entry)) {
            names.push_back(entry.name);
        }
    }
    return names;
}

namespace {

std::int32_t CountIn(const WalkFolder& Folder, const std::string& Mask, bool Recursive) {
    std::int32_t count = 0;
    std::uint32_t error = 0;
    if (Recursive) {
        for (const std::string& name : EnteredSubFolders(Folder)) {
            WalkFolder sub;
            if (OpenWalkSubFolder(Folder, name, sub, error)) {
                count += CountIn(sub, Mask, true);
            }
        }
    }
    return count + static_cast<std::int32_t>(MatchingFiles(Folder, Mask).size());
}

} // namespace

std::int32_t CountFiles(const std::string& Folder, const std::string& Mask, bool Recursive) {
    WalkFolder top;
    std::uint32_t error = 0;
    return OpenWalkFolder(Folder, top, error) ? CountIn(top, Mask, Recursive) : 0;
}

bool FolderUnreadable(const std::string& Folder, std::uint32_t& Error) {
    std::vector<FoundEntry> entries;
    if (listEntries(Folder + kEveryName, entries)) {
        return false;
    }
    Error = lastError();
    return Error != kErrorPathNotFound; // gone since it was found: nothing to take
}

std::vector<LeftOutEntry> LeftOutEntries(const std::string& Folder, const std::string& Mask,
                                         bool Recursive) {
    std::vector<LeftOutEntry> leftOut;
    CollectLeftOut(Folder, Mask, Recursive, leftOut);
    return leftOut;
}

} // namespace kp
