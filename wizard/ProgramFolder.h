#pragma once

#include <string>

namespace kp {

// The folder of the running program's own executable, with its trailing separator:
// the animation clip and the extraction stubs lie there, and "kspool.cab" goes there.
std::string ProgramFolder();

// Tests give the program a folder of their own (with its trailing separator); an
// empty one brings back the real folder.
void SetProgramFolderForTesting(const std::string& folder);

} // namespace kp
