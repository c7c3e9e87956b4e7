// Running Windows programs under Wine in tests: one prefix under the build folder
// (WINE_PREFIX), made once under a lock by whichever test needs it first, and no
// display, so that only unattended paths can run.
#pragma once

#include "ScratchFolder.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kp::test {

struct CommandRun {
    int exitCode = -1;
    std::string output;
};

inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) {
        run.output += buffer;
    }
    int status = pipe ? ::pclose(pipe) : -1;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::string shellQuoted(const std::string& text) {
    return "'" + text + "'";
}

// A Windows path on Wine's drive Z:, which is the Unix root.
inline std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// How many times longer Wine takes here than on a machine that runs 32-bit programs
// itself: where the kernel refuses them, scripts/deps has them run through qemu's
// i386 emulator, and a window takes seconds, not a fraction of one, to come up.
inline int wineSlowness() {
    std::ifstream emulator("/proc/sys/fs/binfmt_misc/qemu-i386");
    std::string state;
    return std::getline(emulator, state) && state == "enabled" ? 8 : 1;
}

// The environment for Wine in `prefix`, with no display.
inline std::string wineEnvironmentFor(const std::string& prefix) {
    return "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=" + prefix +
           " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
}

// Makes the Wine prefix `prefix` once: the first test that needs it does, under a
// lock, since ctest runs tests side by side. Returns why there is none, or "".
//
// The caller fails each test with that, in SetUp: a failure in SetUpTestSuite
// makes GoogleTest skip the suite's tests, and ctest counts a skip as no failure,
// so a machine where Wine cannot start would pass without running any of them.
inline std::string prepareWinePrefix(const std::string& prefix) {
    std::filesystem::create_directories(std::filesystem::path(prefix).parent_path());
    int lock = ::open((prefix + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0) {
        return "cannot open the lock beside " + prefix;
    }
    ::flock(lock, LOCK_EX);
    std::string problem;
    std::string ready = prefix + "/.kp-ready";
    if (!std::filesystem::exists(ready)) {
        std::filesystem::remove_all(prefix);
        CommandRun boot = runCommand(wineEnvironmentFor(prefix) + "wineboot --init && " +
                                     wineEnvironmentFor(prefix) + "wineserver --wait");
        if (std::filesystem::exists(prefix + "/system.reg")) {
            std::ofstream(ready) << "ok\n";
        } else {
            problem = "no Wine prefix made (scripts/deps sets up Wine, and 32-bit programs "
                      "where the kernel refuses them):\n" +
                      boot.output;
        }
    }
    ::flock(lock, LOCK_UN);
    ::close(lock);
    return problem;
}

// One Wine prefix under the build folder for every test. No display: the unattended
// path must not need one.
class WineTest : public ::testing::Test {
protected:
    static std::string wineEnvironment() { return wineEnvironmentFor(WINE_PREFIX); }

    static void SetUpTestSuite() { prefixProblem() = prepareWinePrefix(WINE_PREFIX); }
    static std::string& prefixProblem() {
        static std::string problem;
        return problem;
    }
    void SetUp() override { ASSERT_EQ(prefixProblem(), ""); }

    // `switches` go before /T, e.g. "/K ".
    CommandRun runUnattended(const std::string& exe, const std::string& destination,
                             const std::string& switches = "") {
        return runCommand(wineEnvironment() + "wine " + shellQuoted(exe) + " /Q " + switches +
                          shellQuoted("/T:" + windowsPath(destination)));
    }

    ScratchFolder scratch;
};

} // namespace kp::test
