#include "engine/StoredName.h"

#include "platform/Paths.h"

#include <algorithm>

namespace kp {

using platform::kPathSeparator;

std::string StoredPath(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath) {
    std::string stored;
    if (!StorePath) {
        stored = Name;
    } else if (PartialPath) {
        std::string path = Folder + Name;
        stored = path.substr(std::min(BaseFolder.size(), path.size()));
    } else {
        std::string path = Folder + Name;
        std::size_t skip = !path.empty() && path[0] == kPathSeparator ? 1 : 0;
        stored = path.substr(skip);
    }
    return stored;
}

std::string StoredName(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath) {
    std::string stored = StoredPath(Folder, Name, BaseFolder, StorePath, PartialPath);
    std::replace(stored.begin(), stored.end(), kPathSeparator, '\\');
    return stored;
}

} // namespace kp
