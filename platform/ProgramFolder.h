// The folder of the running program, where the files that lie beside it are found.
#pragma once

#include <string>

namespace kp::platform {

// The full path of the running executable's folder with a trailing separator, as the
// file system stores it byte for byte and with every symbolic link on the way resolved
// (as for a program started through one); empty on failure, with the last error set.
std::string programFolder();

} // namespace kp::platform
