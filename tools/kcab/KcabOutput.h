// The cabinets a kcab run writes: their names, the checks made before any compression,
// and what an earlier, longer set leaves behind.
#pragma once

#include "KcabEntries.h"
#include "platform/FileReplace.h"

#include <atomic>
#include <functional>

#include <string>
#include <vector>

namespace kp {

// The path of the cabinet numbered `number` (1 for the first) of the set whose first
// cabinet is `first`: OUT.cab, OUT2.cab, OUT3.cab, ...
std::string kcabSetMember(const std::string& first, int number);

// A cabinet of an earlier set under the output's names, and the file it was when read.
struct KcabSetMember {
    std::string path;
    platform::FileIdentity identity;
};

// The cabinets of an earlier set under the output's names: `output` itself when it is a
// regular file, and, when it is the first cabinet of a set, the members its header
// chain leads to (OUT2.cab, OUT3.cab, ...), each of the same set ID, at its place, and
// named by the one before it. A file that only bears a member's name is not one.
std::vector<KcabSetMember> earlierKcabSet(const std::string& output);

// False with `error` (naming the path and the reason) when the run could not end in a
// cabinet: the output's folder is missing or cannot be written, the output is a
// folder, a link or no regular file, or a PATH given names the output or a member of
// the earlier set (compared by device and inode).
bool checkKcabOutput(const std::string& output, const KcabEntries& entries, std::string& error);

// The same checks for another file the run writes (the self-extractor): its folder,
// what lies under its name, and that no PATH given names it.
bool checkKcabFile(const std::string& path, const KcabEntries& entries, std::string& error);

// Removes the members of `earlier` (as earlierKcabSet read them) numbered above
// `written`, each only while its name still holds the file that was read; returns the
// paths removed.
std::vector<std::string> removeStaleKcabMembers(const std::vector<KcabSetMember>& earlier,
                                                int written);

// The output folder's advisory lock (flock), held by a run from just before its set
// takes its names until the stale members of an earlier set are gone, so that two runs
// writing one set put theirs in place one after the other, never interleaved. Only
// kcab takes it; it guards against another kcab, not against any other writer.
class KcabFolderLock {
public:
    KcabFolderLock() = default;
    KcabFolderLock(const KcabFolderLock&) = delete;
    KcabFolderLock& operator=(const KcabFolderLock&) = delete;
    ~KcabFolderLock();

    // Waits while another run holds it, calling `waiting` once if it must; false when
    // `interrupt` is set meanwhile (error left empty) or the folder cannot be locked.
    bool acquire(const std::string& folder, const std::atomic<bool>& interrupt,
                 const std::function<void()>& waiting, std::string& error);
    void release();

private:
    int descriptor = -1;
};

} // namespace kp
