#include "KcabOutput.h"

#include "KcabMspack.h"

#include "platform/FileReplace.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"
#include "platform/TextEncoding.h"
#include "platform/Wildcard.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mspack.h>
#include <new>
#include <optional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace kp {

using namespace platform;

namespace {

constexpr int kMaxSetMembers = 0xFFFF;

std::string shown(const std::string& path) {
    return escapedForTerminal(path);
}

bool checkFolder(const std::string& folder, std::string& error) {
    if (pathKind(folder) != PathKind::Folder) {
        error = shown(folder) + ": the output's folder does not exist";
        return false;
    }
    // Root passes every permission test, so only a file made there proves the folder
    // writable (a read-only mount, say).
    std::string probe = createUniqueTempFile(folder, ".kcab-probe-");
    if (probe.empty()) {
        error = shown(folder) + ": cannot write in the output's folder (" +
                systemErrorText(lastError()) + ")";
        return false;
    }
    deleteFile(probe);
    return true;
}

bool checkOutputKind(const std::string& output, std::string& error) {
    PathKind kind = pathKind(output, false);
    if (kind == PathKind::Missing) {
        return true; // nothing there yet
    }
    if (kind == PathKind::Link) {
        error = shown(output) + ": is a symbolic link; name the file it leads to instead";
    } else if (kind == PathKind::Folder) {
        error = shown(output) + ": is a folder";
    } else if (kind != PathKind::File) {
        error = shown(output) + ": is not a regular file (a device, FIFO or socket); kcab " +
                "replaces regular files only";
    } else {
        return true;
    }
    return false;
}

// What a cabinet's header says of its place in a set, read by libmspack.
struct SetPlace {
    unsigned setId = 0;
    unsigned index = 0;
    std::string previous; // the name of the cabinet before it, or empty
    std::string next;     // the name of the cabinet after it, or empty
};

// libmspack's own system prints what it dislikes in a cabinet to stderr; an earlier
// file that is no cabinet, or an empty one, is ordinary here and no news to the user.
// So the headers are read through this one, which opens for reading only and says
// nothing.
struct QuietFile {
    FileHandle handle;
};

mspack_file* quietOpen(mspack_system*, const char* name, int mode) {
    if (mode != MSPACK_SYS_OPEN_READ) {
        return nullptr;
    }
    FileHandle handle = openFile(name, FileAccess::Read, FileDisposition::OpenExisting);
    if (handle == kInvalidHandle) {
        return nullptr;
    }
    auto* file = new (std::nothrow) QuietFile{handle};
    if (!file) {
        closeFile(handle);
    }
    return reinterpret_cast<mspack_file*>(file);
}

void quietClose(mspack_file* file) {
    auto* f = reinterpret_cast<QuietFile*>(file);
    closeFile(f->handle);
    delete f;
}

int quietRead(mspack_file* file, void* buffer, int bytes) {
    return mspackRead(reinterpret_cast<QuietFile*>(file)->handle, buffer, bytes);
}

int quietWrite(mspack_file*, void*, int) {
    return -1;
}

int quietSeek(mspack_file* file, off_t offset, int mode) {
    return mspackSeek(reinterpret_cast<QuietFile*>(file)->handle, offset, mode);
}

off_t quietTell(mspack_file* file) {
    return mspackTell(reinterpret_cast<QuietFile*>(file)->handle);
}

mspack_system quietSystem = {quietOpen, quietClose,        quietRead,   quietWrite, quietSeek,
                             quietTell, mspackSaysNothing, mspackAlloc, mspackFree, mspackCopy,
                             nullptr};

std::optional<SetPlace> setPlaceOf(const std::string& path) {
    if (pathKind(path, false) != PathKind::File) {
        return std::nullopt;
    }
    std::unique_ptr<mscab_decompressor, void (*)(mscab_decompressor*)> reader(
        mspack_create_cab_decompressor(&quietSystem), &mspack_destroy_cab_decompressor);
    if (!reader) {
        return std::nullopt;
    }
    mscabd_cabinet* cabinet = reader->open(reader.get(), path.c_str());
    if (!cabinet) {
        return std::nullopt; // not a cabinet, or one libmspack cannot read
    }
    SetPlace place;
    place.setId = cabinet->set_id;
    place.index = cabinet->set_index;
    place.previous = cabinet->prevname ? cabinet->prevname : "";
    place.next = cabinet->nextname ? cabinet->nextname : "";
    reader->close(reader.get(), cabinet);
    return place;
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

std::vector<KcabSetMember> earlierKcabSet(const std::string& output) {
    std::vector<KcabSetMember> members;
    KcabSetMember first{output, {}};
    if (pathKind(output, false) != PathKind::File || !identityOf(output, first.identity)) {
        return members;
    }
    members.push_back(first);
    // Only the chain the first cabinet starts counts: each member named as the one
    // before it names its next, of the same set ID, at its place, naming the one before
    // it as its previous. A file that merely has a member's name is someone else's.
    std::optional<SetPlace> place = setPlaceOf(output);
    if (!place || place->index != 0) {
        return members;
    }
    const unsigned setId = place->setId;
    for (int number = 2; number <= kMaxSetMembers && !place->next.empty(); ++number) {
        KcabSetMember member{kcabSetMember(output, number), {}};
        std::string previousName = namePart(members.back().path);
        if (place->next != namePart(member.path)) {
            break;
        }
        place = setPlaceOf(member.path);
        if (!place || place->setId != setId || place->index != static_cast<unsigned>(number - 1) ||
            place->previous != previousName || !identityOf(member.path, member.identity)) {
            break;
        }
        members.push_back(member);
    }
    return members;
}

// False when a file given by name is one of `replaced`; folders and masks reaching an
// output are left out by the walk.
static bool checkNoInputReplaced(const std::vector<FileIdentity>& outputs,
                                 const KcabEntries& entries, const char* what, std::string& error) {
    for (const std::string& input : entries.addFiles) {
        FileIdentity identity;
        if (hasWildcard(input) || !identityOf(input, identity)) {
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
    if (!checkFolder(folderPart(output), error) || !checkOutputKind(output, error)) {
        return false;
    }
    std::vector<FileIdentity> replaced;
    for (const KcabSetMember& member : earlierKcabSet(output)) {
        replaced.push_back(member.identity);
    }
    return checkNoInputReplaced(replaced, entries, "a cabinet", error);
}

bool checkKcabFile(const std::string& path, const KcabEntries& entries, std::string& error) {
    if (!checkFolder(folderPart(path), error) || !checkOutputKind(path, error)) {
        return false;
    }
    FileIdentity identity;
    std::vector<FileIdentity> replaced;
    if (identityOf(path, identity)) {
        replaced.push_back(identity);
    }
    return checkNoInputReplaced(replaced, entries, "a file", error);
}

std::vector<std::string> removeStaleKcabMembers(const std::vector<KcabSetMember>& earlier,
                                                int written) {
    std::vector<std::string> removed;
    for (std::size_t index = static_cast<std::size_t>(written); index < earlier.size(); ++index) {
        const KcabSetMember& member = earlier[index];
        FileIdentity now;
        // Still the very file the chain was read from: one put there since is not ours.
        if (pathKind(member.path, false) == PathKind::File && identityOf(member.path, now) &&
            now == member.identity && deleteFile(member.path)) {
            removed.push_back(member.path);
        }
    }
    return removed;
}

KcabFolderLock::~KcabFolderLock() {
    release();
}

bool KcabFolderLock::acquire(const std::string& folder, const std::atomic<bool>& interrupt,
                             const std::function<void()>& waiting, std::string& error) {
    release();
    descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        error = shown(folder) + ": cannot lock the output's folder (" +
                systemErrorText(platform::errorFromErrno(errno)) + ")";
        return false;
    }
    bool told = false;
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        int code = errno;
        if (code != EWOULDBLOCK && code != EINTR) {
            error = shown(folder) + ": cannot lock the output's folder (" +
                    systemErrorText(platform::errorFromErrno(code)) + ")";
            release();
            return false;
        }
        if (interrupt.load()) {
            release();
            return false;
        }
        if (!told && waiting) {
            waiting();
            told = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void KcabFolderLock::release() {
    if (descriptor >= 0) {
        ::close(descriptor); // closing the last descriptor drops the lock
        descriptor = -1;
    }
}

} // namespace kp
