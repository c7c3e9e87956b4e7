// kcab as a function of its arguments and output streams, so that tests can run it
// in-process; main() only adds the terminal and Ctrl-C.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace kp {

enum KcabExit : int {
    kKcabWritten = 0,
    kKcabNotWritten = 1,
    kKcabUsage = 2,
    kKcabInterrupted = 130,
};

struct KcabTerminal {
    bool isTerminal = false;
    int width = 80;
};

// `arguments` excludes the program name. `interrupt`, when set (by a signal handler),
// stops the run at the builder's next progress event.
int runKcab(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
            const KcabTerminal& terminal, const std::atomic<bool>& interrupt);

} // namespace kp
