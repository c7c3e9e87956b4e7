// The desktop's special folders, asked for by Windows' numbers for them.
#pragma once

#include <optional>
#include <string>

namespace kp {

inline constexpr int kSpecialFolderDesktop = 0x00;
inline constexpr int kSpecialFolderPersonal = 0x05;
inline constexpr int kSpecialFolderMyComputer = 0x11;

// The folder a number stands for here: the desktop folder, the home folder as the
// personal one, the file system's root as the computer. The other numbers name
// nothing on this platform (control panel, printers, recycle bin, network), nor does
// a desktop folder that does not exist.
std::optional<std::string> SpecialFolderLocation(int folder);

} // namespace kp
