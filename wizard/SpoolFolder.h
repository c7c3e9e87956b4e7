#pragma once

#include <string>

namespace kp {

// The folder that receives "kspool.cab", with its trailing separator: the program's
// own folder while the program may create files there (as a build or a copy the user
// unpacked), else a folder of the user's own under the user's cache folder
// ($XDG_CACHE_HOME/kpellix/, by default ~/.cache/kpellix/), as for a program installed
// read-only under /usr/lib/kpellix. Should neither be writable, the program's folder
// comes back and the run reports why the cabinet cannot be written there.
std::string SpoolFolder();

} // namespace kp
