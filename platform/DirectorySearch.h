// Directory search in the manner of Windows' FindFirstFile: a folder and a mask,
// entries filtered by attributes, sorted by name in byte order so that the same
// tree always gives the same cabinet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kp::platform {

struct FoundEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
};

// Lists the entries of `pattern` (a folder part, possibly empty for the current folder,
// followed by a mask). An entry with the hidden, system, volume, directory or reparse
// bit is left out unless that bit is in `admit`; entries without any of those bits
// always pass. Only folders and regular files are reported (FIFOs, sockets, devices
// and dangling links never are), and never "." or "..". Returns false, with
// kErrorPathNotFound, when the folder cannot be listed; an empty result is success.
bool findEntries(const std::string& pattern, std::uint32_t admit, std::vector<FoundEntry>& entries);

} // namespace kp::platform
