// Reading a file whole, and writing one anew so that it is never seen half-written.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kp::platform {

// Reads the whole regular file at `path`; false with the last error set on failure.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

// Writes `target` anew: `fill` writes the content through the handle it is given (and
// returns false, with the last error set, on failure) into a temporary file beside the
// target, which then takes the target's name with the permission bits `mode`. The
// target is thus either untouched or complete; no temporary file is left behind.
bool replaceWholeFile(const std::string& target, unsigned mode,
                      const std::function<bool(FileHandle)>& fill);

// Writes all `size` bytes, in pieces small enough for one call each.
bool writeAll(FileHandle handle, const std::uint8_t* bytes, std::uint64_t size);

// The permission bits of an existing file, or `fallback` when it cannot be examined.
unsigned permissionBits(const std::string& path, unsigned fallback);

} // namespace kp::platform
