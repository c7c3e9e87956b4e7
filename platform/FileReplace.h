// Putting a finished file in place under its final name, and telling files apart by
// identity rather than by name (a link or a second path reaches the same file).
#pragma once

#include <cstdint>
#include <string>

namespace kp::platform {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what `path` names, links followed; false with the last error set
// when it names nothing.
bool identityOf(const std::string& path, FileIdentity& identity);

// Renames `from` onto `to` in one step. With `replace` an existing `to` is replaced
// (a reader sees the old file or the new one, never a mix); without it an existing
// `to` fails the call with kErrorFileExists and is left alone. Both names must lie on
// the same file system, which is why finished files are written beside their target.
bool renameOnto(const std::string& from, const std::string& to, bool replace);

// Gives a file made under a private temporary name the permissions a file created by
// name would have had (0666 less the umask), before it takes its final name.
bool giveCreationPermissions(const std::string& path);

} // namespace kp::platform
