#include "engine/EntryPaths.h"

#include "platform/Files.h"

#include <algorithm>

using kp::platform::kPathSeparator;

std::string EntryFolder(const std::string& Entry) {
    std::string::size_type separator = Entry.find_last_of(kPathSeparator);
    return separator == std::string::npos ? std::string() : Entry.substr(0, separator + 1);
}

std::string EntryMask(const std::string& Entry) {
    return Entry.substr(EntryFolder(Entry).size());
}

std::size_t DrivePartLength(const std::string&) {
    return 0;
}

std::string StoredName(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath) {
    std::string stored;
    if (!StorePath) {
        stored = Name;
    } else if (PartialPath) {
        std::string path = Folder + Name;
        stored = path.substr(std::min(BaseFolder.size(), path.size()));
    } else {
        std::string path = Folder + Name;
        std::size_t skip = DrivePartLength(path);
        // Only the root separator goes: a relative path keeps its first character.
        if (skip < path.size() && path[skip] == kPathSeparator) {
            ++skip;
        }
        stored = path.substr(skip);
    }
    std::replace(stored.begin(), stored.end(), kPathSeparator, '\\');
    return stored;
}
