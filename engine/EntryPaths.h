// How the builder reads its entries and names the files it stores.
#pragma once

#include <string>

// The entry's folder, up to and including its last separator; empty for an entry in
// the current folder.
std::string EntryFolder(const std::string& Entry);
// The file name or mask after the entry's folder.
std::string EntryMask(const std::string& Entry);

// The length of a path's drive part. A POSIX path has none.
std::size_t DrivePartLength(const std::string& Path);

// The name a file is stored under. `Folder` is the folder as the walk reached it,
// which begins with `BaseFolder`, the folder of the entry that found the file.
// Cabinets separate stored path components with a backslash.
std::string StoredName(const std::string& Folder, const std::string& Name,
                       const std::string& BaseFolder, bool StorePath, bool PartialPath);
