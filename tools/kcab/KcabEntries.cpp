#include "KcabEntries.h"

#include "platform/DirectorySearch.h"
#include "platform/Files.h"
#include "platform/Wildcard.h"

#include <algorithm>

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

// Notes what the builder's walk of `folder` will pass over, as the platform's directory
// search and the builder's rules decide it.
void noteLeftOut(const std::string& folder, const std::string& mask, bool recursive,
                 std::vector<std::string>& warnings) {
    std::error_code error;
    std::vector<fs::directory_entry> items;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        items.push_back(item);
    }
    std::sort(items.begin(), items.end());
    for (const fs::directory_entry& item : items) {
        std::string name = item.path().filename().string();
        std::string path = folder + name;
        fs::file_status target = item.status(error);
        bool isLink = item.is_symlink(error);
        if (fs::is_directory(target)) {
            if (!recursive) {
                continue;
            }
            if (isLink) {
                warnings.push_back(path + ": link to a folder, not entered");
            } else if (name[0] == '.') {
                warnings.push_back(path + ": hidden folder, not entered");
            } else {
                noteLeftOut(withSeparator(path), mask, true, warnings);
            }
        } else if (!matchesMask(name, mask)) {
            continue;
        } else if (isLink && !fs::exists(target)) {
            warnings.push_back(path + ": dangling link, left out");
        } else if (!fs::is_regular_file(target)) {
            warnings.push_back(path + ": not a regular file, left out");
        }
    }
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
            noteLeftOut(withSeparator(path), "*.*", recursive, entries.warnings);
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
        noteLeftOut(folder, last, recursive, entries.warnings);
    }
    return true;
}
