// The process's current directory.
#pragma once

#include <string>

namespace kp::platform {

// Empty on failure, with the last error set.
std::string currentDirectory();
bool setCurrentDirectory(const std::string& path);

} // namespace kp::platform
