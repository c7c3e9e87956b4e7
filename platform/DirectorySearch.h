// Directory search in the manner of Windows' FindFirstFile: a folder and a mask,
// entries filtered by attributes, sorted by name in byte order so that the same
// tree always gives the same cabinet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kp::platform {

enum class EntryKind {
    File,         // a regular file, or a link to one
    Folder,       // a folder, or a link to one (which carries kAttrReparsePoint)
    Special,      // a FIFO, socket or device, which a search never reports
    DanglingLink, // a link whose target cannot be reached, which a search never reports
};

struct FoundEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    EntryKind kind = EntryKind::File;
};

// Lists the entries of `pattern` (a folder part, possibly empty for the current folder,
// followed by a mask). An entry with the hidden, system, volume, directory or reparse
// bit is left out unless that bit is in `admit`; entries without any of those bits
// always pass. Only folders and regular files are reported (FIFOs, sockets, devices
// and dangling links never are), and never "." or "..". Returns false, with
// kErrorPathNotFound, when the folder cannot be listed; an empty result is success.
bool findEntries(const std::string& pattern, std::uint32_t admit, std::vector<FoundEntry>& entries);

// Every entry of `pattern` but "." and "..", whatever its kind and attributes, in the
// same order: what findEntries would report and what it would leave out, for callers
// that must say what a search passes over.
bool listEntries(const std::string& pattern, std::vector<FoundEntry>& entries);

// Whether findEntries with `admit` reports the entry.
bool admitted(const FoundEntry& entry, std::uint32_t admit);

} // namespace kp::platform
