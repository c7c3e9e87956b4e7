// File copy with the meaning of Windows' CopyFile.
#pragma once

#include <string>

namespace kp::platform {

// Copies `from` to `to`. An existing `to` is replaced unless `failIfExists` (then the
// call fails with 80). The copy is complete or the call fails: the new bytes are
// written beside the target and take its name only when all are there. The copy gets
// the source's permission bits. Last error 0 on success.
bool copyFile(const std::string& from, const std::string& to, bool failIfExists);

} // namespace kp::platform
