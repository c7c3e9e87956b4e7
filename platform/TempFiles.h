// The system's temporary folder and unique names in it.
#pragma once

#include <string>

namespace kp::platform {

// TMPDIR, or /tmp without it; always ends with the path separator.
std::string tempFolder();

// Creates an empty file named folder + prefix + a unique part + ".tmp" to reserve the
// name and returns its full path; empty on failure, with the last error set.
std::string createUniqueTempFile(const std::string& folder, const std::string& prefix);

} // namespace kp::platform
