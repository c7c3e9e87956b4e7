// Starting a program with the meaning of Windows' WinExec: start it and return at once.
#pragma once

#include <cstdint>
#include <string>

namespace kp::platform {

constexpr int kShowNormal = 5; // SW_SHOW

// Starts the program that `commandLine` names, without waiting for it. As on Windows,
// an unquoted command line with spaces names the shortest leading part that is an
// existing file, and the rest are its arguments; a quoted first part is the program.
// A Windows executable runs through `wine` when that is on the PATH; another
// executable file runs as it is; anything else, and a Windows executable without
// wine, goes to the desktop's opener (xdg-open). `showMode` is accepted for the
// Windows caller's sake; windows here show as their program decides.
// Returns a value above 31 when started; otherwise 2 (file not found), 3 (path not
// found) or 11 (the program could not be run), with the last error set.
std::uint32_t startProgram(const std::string& commandLine, int showMode);

// Learns when a program started with it has ended, without waiting for it.
class ProgramWatch {
public:
    ProgramWatch() = default;
    ~ProgramWatch();
    ProgramWatch(const ProgramWatch&) = delete;
    ProgramWatch& operator=(const ProgramWatch&) = delete;

    // True once the program has ended (then again never), with its exit code, 128 plus
    // the signal's number when a signal ended it, or -1 when that is not known.
    bool Ended(int& exitCode);

    void Watch(int watcher, int pipe); // for startProgram

private:
    int watcher_ = -1;
    int pipe_ = -1;
};

// startProgram, with `watch` (when not null) following the program until it ends.
std::uint32_t startProgram(const std::string& commandLine, int showMode, ProgramWatch* watch);

} // namespace kp::platform
