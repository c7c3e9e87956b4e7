// The name a file is stored under in the cabinet.
#pragma once

#include <string>

namespace kp {

// `Folder` is the folder as the walk reached it, which begins with `BaseFolder`, the
// folder of the entry that found the file; both end with the separator or are empty.
// Without StorePath the name is the file's own; with PartialPath the path below
// BaseFolder; otherwise the whole path without its root separator (a POSIX path has
// no drive part, and a relative one keeps its first character). Cabinets separate
// stored path components with a backslash.
std::string StoredName(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath);

// The same name with the platform's separators still in place, so that a backslash
// that is part of a name can be told from a separator.
std::string StoredPath(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath);

} // namespace kp
