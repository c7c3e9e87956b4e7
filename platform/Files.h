// File services with Windows' semantics: handles, last-error codes, attributes.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/Paths.h"

namespace kp::platform {

// Attribute bits with Windows' values. On this platform a name starting with '.'
// is hidden, a file its owner cannot write is read-only, every regular file has
// the archive bit, and nothing is a system file or a volume label. A symbolic
// link to a folder carries the reparse-point bit so that walks can leave it out.
enum : std::uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeId = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrReparsePoint = 0x400,
    kAttrAnyFile = 0x3F,
};
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

using FileHandle = std::intptr_t;
constexpr FileHandle kInvalidHandle = -1;

enum class FileAccess { Read, Write, ReadWrite };

enum class FileDisposition {
    CreateNew,        // fails with kErrorFileExists when the name exists
    CreateAlways,     // creates or truncates
    OpenExisting,     // fails with kErrorFileNotFound when it does not exist
    OpenAlways,       // opens or creates
    TruncateExisting, // opens an existing file and empties it
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// Opens regular files only: a folder gives kErrorAccessDenied, as on Windows, and a
// FIFO, socket or device is refused the same way rather than blocking the caller.
FileHandle openFile(const std::string& path, FileAccess access, FileDisposition disposition,
                    bool sequentialHint = false);

// Reads until `count` bytes or the end of the file. Returns false on failure;
// `transferred` holds the bytes moved either way.
bool readFile(FileHandle handle, void* buffer, std::uint32_t count, std::uint32_t& transferred);
bool writeFile(FileHandle handle, const void* buffer, std::uint32_t count,
               std::uint32_t& transferred);

// The new position, or -1 on failure.
std::int64_t seekFile(FileHandle handle, std::int64_t distance, SeekOrigin origin);

bool closeFile(FileHandle handle);
bool deleteFile(const std::string& path);

struct FileInformation {
    std::uint64_t size = 0;
    std::timespec lastWriteTime{};
    std::uint32_t attributes = 0;
};

bool fileInformation(FileHandle handle, FileInformation& information);

// kInvalidFileAttributes on failure.
std::uint32_t fileAttributes(const std::string& path);

// The code for a path that names nothing: kErrorPathNotFound when a folder on its way
// is missing (or is no folder), as Windows tells the two apart, else kErrorFileNotFound.
std::uint32_t notFoundError(const std::string& path);

// True only for an existing file that is not a folder.
bool fileExists(const std::string& path);

// What a path names. Asked with `followLinks` false, a symbolic link is a Link
// whatever it leads to; followed, a dangling one is Missing.
enum class PathKind { Missing, File, Folder, Link, Other };

// Missing, with the last error set, when the path names nothing or cannot be asked about.
PathKind pathKind(const std::string& path, bool followLinks = true);

// The size of the file a path names, links followed; false with the last error set
// when it names nothing.
bool fileSize(const std::string& path, std::uint64_t& size);

// The attribute bits of an entry described by stat(), under its last path component.
std::uint32_t attributesOf(const std::string& name, unsigned mode);

} // namespace kp::platform
