// kcab --verify: reads the cabinets just written back with a decoder we did not
// write (libmspack) and compares every file with its source, since a cabinet
// carries no checksum of the data it holds.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace kp {

struct KcabPacked {
    std::string source; // the file as kcab read it
    std::string stored; // the name the builder stored it under
};

// `cabinets` is the set in order, first to last; `files` what was packed, in the
// order it was added. Compares each file's stored name, size, DOS date and time
// and every byte, up to the first file that differs. Returns the problem found,
// a line naming the file (or cabinet) it is about; empty when everything
// agrees. `stop`, once set, ends the comparison before the next file. A cabinet is
// named by its entry in `shownAs` where there is one (the final name of a cabinet
// read under its staging name).
std::vector<std::string> verifyKcabCabinets(const std::vector<std::string>& cabinets,
                                            const std::vector<KcabPacked>& files,
                                            const std::atomic<bool>& stop,
                                            const std::vector<std::string>& shownAs = {});

} // namespace kp
