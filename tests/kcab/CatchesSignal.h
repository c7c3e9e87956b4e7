#pragma once
// Signal tests must not count a signal that reached a child before its main() had set
// the handlers: that signal meets the default action, which no program can change.

#include <chrono>
#include <fstream>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>

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

// Waits until the child catches the signal; false, with its wait status in `status`,
// when it ended first.
inline bool waitUntilCatching(pid_t child, int signal, int& status) {
    while (!catchesSignal(child, signal)) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kp::test
