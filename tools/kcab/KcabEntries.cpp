#include "KcabEntries.h"

#include "platform/DirectorySearch.h"
#include "platform/Files.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace kp::platform;

namespace {

bool hasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

std::string withSeparator(std::string folder) {
    if (folder.empty() || folder.back() != kPathSeparator) {
        folder += kPathSeparator;
    }
    return folder;
}

bool matchesAnyFile(const std::string& folder, const std::string& mask, bool recursive) {
    std::vector<FoundEntry> found;
    findEntries(folder + mask, kAttrAnyFile, found);
    for (const FoundEntry& entry : found) {
        if (!(entry.attributes & kAttrDirectory)) {
            return true;
        }
    }
    if (!recursive) {
        return false;
    }
    findEntries(folder + "*.*", kAttrDirectory, found);
    for (const FoundEntry& entry : found) {
        if ((entry.attributes & kAttrDirectory) &&
            matchesAnyFile(folder + entry.name + kPathSeparator, mask, true)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string absoluteKcabPath(const std::string& path, const std::string& currentFolder) {
    fs::path anchored = fs::path(currentFolder) / fs::path(path);
    anchored = anchored.lexically_normal();
    std::string last = anchored.filename().string();
    fs::path parent = anchored.parent_path();
    if (last.empty()) { // "dir/" normalises to "dir/" with an empty file name
        last = parent.filename().string();
        parent = parent.parent_path();
    }
    std::error_code ignored;
    fs::path canonicalParent = fs::weakly_canonical(parent, ignored);
    if (ignored || canonicalParent.empty()) {
        canonicalParent = parent;
    }
    if (last.empty() || last == "..") {
        fs::path whole = fs::weakly_canonical(anchored, ignored);
        return ignored ? anchored.string() : whole.string();
    }
    return withSeparator(canonicalParent.string()) + last;
}

bool resolveKcabPaths(const std::vector<std::string>& paths, bool recursive,
                      const std::string& currentFolder, KcabEntries& entries, std::string& error) {
    for (const std::string& given : paths) {
        std::string path = absoluteKcabPath(given, currentFolder);
        std::string::size_type separator = path.find_last_of(kPathSeparator);
        std::string folder = path.substr(0, separator + 1);
        std::string last = path.substr(separator + 1);

        struct stat status {};
        bool exists = ::stat(path.c_str(), &status) == 0;
        if (exists && S_ISDIR(status.st_mode)) {
            std::string entry = withSeparator(path) + "*.*";
            (recursive ? entries.recurseFiles : entries.addFiles).push_back(entry);
            continue;
        }
        if (exists && S_ISREG(status.st_mode)) {
            entries.addFiles.push_back(path);
            continue;
        }
        if (exists) {
            error = given + ": not a regular file or folder";
            return false;
        }
        if (!hasWildcard(last)) {
            error = given + ": no such file or folder";
            return false;
        }
        struct stat folderStatus {};
        if (hasWildcard(folder) || ::stat(folder.c_str(), &folderStatus) != 0 ||
            !S_ISDIR(folderStatus.st_mode)) {
            error = given + ": no such folder (wildcards are allowed in the last part only)";
            return false;
        }
        (recursive ? entries.recurseFiles : entries.addFiles).push_back(path);
        if (!matchesAnyFile(folder, last, recursive)) {
            entries.warnings.push_back(given + ": matches no file");
        }
    }
    return true;
}
