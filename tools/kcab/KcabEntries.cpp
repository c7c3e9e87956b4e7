#include "KcabEntries.h"

#include "engine/FolderWalk.h"
#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Wildcard.h"

#include <algorithm>

#include <filesystem>

namespace kp {
namespace {

namespace fs = std::filesystem;
using platform::hasWildcard;
using platform::PathKind;
using platform::withTrailingSeparator;

const char* describeLeftOut(LeftOutReason reason) {
    switch (reason) {
    case LeftOutReason::HiddenFolder:
        return "hidden folder, not entered";
    case LeftOutReason::LinkToFolder:
        return "link to a folder, not entered";
    case LeftOutReason::DanglingLink:
        return "dangling link, left out";
    case LeftOutReason::NotARegularFile:
        return "not a regular file, left out";
    case LeftOutReason::PathTooLong:
        return "path longer than 4095 bytes, which the system cannot open; move the tree "
               "nearer the root";
    }
    return "left out";
}

// Notes what the builder's walk of `folder` will pass over; false, with the error, when
// that includes a path too long to open, which the user has to shorten.
bool noteLeftOut(const std::string& folder, const std::string& mask, bool recursive,
                 std::vector<std::string>& warnings, std::string& error) {
    for (const LeftOutEntry& entry : LeftOutEntries(folder, mask, recursive)) {
        if (entry.Reason == LeftOutReason::PathTooLong) {
            error = entry.Path + ": " + describeLeftOut(entry.Reason);
            return false;
        }
        warnings.push_back(entry.Path + ": " + describeLeftOut(entry.Reason));
    }
    return true;
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
    return withTrailingSeparator(canonicalParent.string()) + last;
}

bool resolveKcabPaths(const std::vector<std::string>& paths, bool recursive,
                      const std::string& currentFolder, KcabEntries& entries, std::string& error) {
    std::vector<platform::FileIdentity> files;
    for (const std::string& given : paths) {
        if (given.empty()) {
            error = "an empty PATH (write . for the current folder)";
            return false;
        }
        std::string path = absoluteKcabPath(given, currentFolder);
        std::string folder = platform::folderPart(path);
        std::string last = platform::namePart(path);

        PathKind kind = platform::pathKind(path);
        if (kind == PathKind::Folder) {
            std::string entry = withTrailingSeparator(path) + "*.*";
            (recursive ? entries.recurseFiles : entries.addFiles).push_back(entry);
            if (!noteLeftOut(withTrailingSeparator(path), "*.*", recursive, entries.warnings,
                             error)) {
                return false;
            }
            continue;
        }
        platform::FileIdentity identity;
        if (kind == PathKind::File && platform::identityOf(path, identity)) {
            if (std::find(files.begin(), files.end(), identity) != files.end()) {
                entries.warnings.push_back(given + ": given twice, packed once");
                continue;
            }
            files.push_back(identity);
            entries.addFiles.push_back(path);
            continue;
        }
        if (kind != PathKind::Missing) {
            error = given + ": not a regular file or folder";
            return false;
        }
        if (!hasWildcard(last)) {
            error = given + ": no such file or folder";
            return false;
        }
        if (hasWildcard(folder) || platform::pathKind(folder) != PathKind::Folder) {
            error = given + ": no such folder (wildcards are allowed in the last part only)";
            return false;
        }
        (recursive ? entries.recurseFiles : entries.addFiles).push_back(path);
        if (CountFiles(folder, last, recursive) == 0) {
            entries.warnings.push_back(given + ": matches no file");
        }
        if (!noteLeftOut(folder, last, recursive, entries.warnings, error)) {
            return false;
        }
    }
    return true;
}

} // namespace kp
