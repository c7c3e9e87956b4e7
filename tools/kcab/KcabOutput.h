// The cabinets a kcab run writes: their names, the checks made before any compression,
// and what an earlier, longer set leaves behind.
#pragma once

#include "KcabEntries.h"

#include <string>
#include <vector>

namespace kp {

// The path of the cabinet numbered `number` (1 for the first) of the set whose first
// cabinet is `first`: OUT.cab, OUT2.cab, OUT3.cab, ...
std::string kcabSetMember(const std::string& first, int number);

// The cabinets of an earlier set under the output's names: `output` and the members
// that follow it without a gap, those that exist as regular files.
std::vector<std::string> earlierKcabSet(const std::string& output);

// False with `error` (naming the path and the reason) when the run could not end in a
// cabinet: the output's folder is missing or cannot be written, the output is a
// folder, a link or no regular file, or a PATH given names the output or a member of
// the earlier set (compared by device and inode).
bool checkKcabOutput(const std::string& output, const KcabEntries& entries, std::string& error);

// The same checks for another file the run writes (the self-extractor): its folder,
// what lies under its name, and that no PATH given names it.
bool checkKcabFile(const std::string& path, const KcabEntries& entries, std::string& error);

// Removes the members of an earlier set numbered above `written`, but only files that
// start like a cabinet; returns the paths removed.
std::vector<std::string> removeStaleKcabMembers(const std::string& output, int written);

} // namespace kp
