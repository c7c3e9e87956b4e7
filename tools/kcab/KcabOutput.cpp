#include "KcabOutput.h"

#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"

#include <sys/stat.h>

namespace kp {

using namespace platform;

namespace {

constexpr int kMaxSetMembers = 0xFFFF;

std::string shown(const std::string& path) {
    return escapedForTerminal(path);
}

std::string systemReason(std::uint32_t code) {
    return "system error " + std::to_string(code) + ": " + systemErrorMessage(code);
}

bool checkFolder(const std::string& folder, std::string& error) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = shown(folder) + ": the output's folder does not exist";
        return false;
    }
    // Root passes every permission test, so only a file made there proves the folder
    // writable (a read-only mount, say).
    std::string probe = createUniqueTempFile(folder, ".kcab-probe-");
    if (probe.empty()) {
        error = shown(folder) + ": cannot write in the output's folder (" +
                systemReason(lastError()) + ")";
        return false;
    }
    deleteFile(probe);
    return true;
}

bool checkOutputKind(const std::string& output, std::string& error) {
    struct stat status {};
    if (::lstat(output.c_str(), &status) != 0) {
        return true; // nothing there yet
    }
    if (S_ISLNK(status.st_mode)) {
        error = shown(output) + ": is a symbolic link; name the file it leads to instead";
    } else if (S_ISDIR(status.st_mode)) {
        error = shown(output) + ": is a folder";
    } else if (!S_ISREG(status.st_mode)) {
        error = shown(output) + ": is not a regular file (a device, FIFO or socket); kcab " +
                "replaces regular files only";
    } else {
        return true;
    }
    return false;
}

bool startsLikeCabinet(const std::string& path) {
    FileHandle handle = openFile(path, FileAccess::Read, FileDisposition::OpenExisting);
    if (handle == kInvalidHandle) {
        return false;
    }
    char start[4] = {};
    std::uint32_t got = 0;
    bool read = readFile(handle, start, sizeof start, got);
    closeFile(handle);
    return read && got == sizeof start && std::string(start, sizeof start) == "MSCF";
}

} // namespace

std::string kcabSetMember(const std::string& first, int number) {
    if (number <= 1) {
        return first;
    }
    std::string folder = folderPart(first);
    std::string name = namePart(first);
    std::string::size_type dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) {
        return folder + name + std::to_string(number);
    }
    return folder + name.substr(0, dot) + std::to_string(number) + name.substr(dot);
}

std::vector<std::string> earlierKcabSet(const std::string& output) {
    std::vector<std::string> members;
    for (int number = 1; number <= kMaxSetMembers; ++number) {
        std::string path = kcabSetMember(output, number);
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            break;
        }
        members.push_back(path);
    }
    return members;
}

// False when a file given by name is one of `replaced`; folders and masks reaching an
// output are left out by the walk.
static bool checkNoInputReplaced(const std::vector<std::string>& replaced,
                                 const KcabEntries& entries, const char* what, std::string& error) {
    std::vector<FileIdentity> outputs;
    for (const std::string& file : replaced) {
        FileIdentity identity;
        if (identityOf(file, identity)) {
            outputs.push_back(identity);
        }
    }
    for (const std::string& input : entries.addFiles) {
        FileIdentity identity;
        if (input.find_first_of("*?") != std::string::npos || !identityOf(input, identity)) {
            continue;
        }
        for (const FileIdentity& written : outputs) {
            if (written == identity) {
                error = shown(input) + ": is both an input and " + what + " this run replaces";
                return false;
            }
        }
    }
    return true;
}

bool checkKcabOutput(const std::string& output, const KcabEntries& entries, std::string& error) {
    return checkFolder(folderPart(output), error) && checkOutputKind(output, error) &&
           checkNoInputReplaced(earlierKcabSet(output), entries, "a cabinet", error);
}

bool checkKcabFile(const std::string& path, const KcabEntries& entries, std::string& error) {
    return checkFolder(folderPart(path), error) && checkOutputKind(path, error) &&
           checkNoInputReplaced({path}, entries, "a file", error);
}

std::vector<std::string> removeStaleKcabMembers(const std::string& output, int written) {
    std::vector<std::string> removed;
    std::vector<std::string> earlier = earlierKcabSet(output);
    for (std::size_t index = static_cast<std::size_t>(written); index < earlier.size(); ++index) {
        if (startsLikeCabinet(earlier[index]) && deleteFile(earlier[index])) {
            removed.push_back(earlier[index]);
        }
    }
    return removed;
}

} // namespace kp
