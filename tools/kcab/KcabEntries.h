// Turns kcab's PATH arguments into the builder's entries, all absolute.
#pragma once

#include <string>
#include <vector>

namespace kp {

struct KcabEntries {
    std::vector<std::string> addFiles;
    std::vector<std::string> recurseFiles;
    // Masks that match no file, and whatever the builder's walk will leave out
    // (LeftOutEntries): shown, since nothing may be skipped silently.
    std::vector<std::string> warnings;
};

// `currentFolder` anchors relative paths. False with `error` set when a PATH names
// nothing usable (no such file or folder, or a FIFO, socket or device).
bool resolveKcabPaths(const std::vector<std::string>& paths, bool recursive,
                      const std::string& currentFolder, KcabEntries& entries, std::string& error);

// The absolute form of a path: anchored at `currentFolder`, its folder part made
// canonical where it exists, its last component kept as written.
std::string absoluteKcabPath(const std::string& path, const std::string& currentFolder);

} // namespace kp
