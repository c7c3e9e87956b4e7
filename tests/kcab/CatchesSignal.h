#pragma once
// Signal tests must not count a signal that reached a child before its main() had set
// the handlers: that signal meets the default action, which no program can change.

#include <fstream>
#include <string>
#include <sys/types.h>

namespace kp::test {

// Whether the process has a handler for the signal (its SigCgt mask).
inline bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (signal - 1)) & 1;
        }
    }
    return false;
}

} // namespace kp::test
