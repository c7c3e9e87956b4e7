// Paths as this platform writes them. Names stored inside a cabinet always use '\',
// whatever the separator here is.
#pragma once

#include <string>

namespace kp::platform {

constexpr char kPathSeparator = '/';

// A path split at its last separator: the folder part up to and including it (empty
// for a path without one, which names something in the current folder) and the name
// or mask after it. folderPart(p) + namePart(p) == p.
std::string folderPart(const std::string& path);
std::string namePart(const std::string& path);

// The folder with a separator at its end; an empty folder, the current one, stays empty.
std::string withTrailingSeparator(const std::string& folder);

} // namespace kp::platform
