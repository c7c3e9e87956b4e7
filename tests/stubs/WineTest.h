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

// One Wine prefix under the build folder for every test, made by the first test
// that needs it (under a lock, since ctest runs tests side by side). No display:
// the unattended path must not need one.
class WineTest : public ::testing::Test {
protected:
    static std::string wineEnvironment() {
        return std::string("env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=") + WINE_PREFIX +
               " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    }

    static void SetUpTestSuite() {
        std::filesystem::create_directories(std::filesystem::path(WINE_PREFIX).parent_path());
        int lock = ::open((std::string(WINE_PREFIX) + ".lock").c_str(),
                          O_CREAT | O_RDWR | O_CLOEXEC, 0644);
        ASSERT_GE(lock, 0);
        ::flock(lock, LOCK_EX);
        std::string ready = std::string(WINE_PREFIX) + "/.kp-ready";
        if (!std::filesystem::exists(ready)) {
            std::filesystem::remove_all(WINE_PREFIX);
            CommandRun boot = runCommand(wineEnvironment() + "wineboot --init && " +
                                         wineEnvironment() + "wineserver --wait");
            if (std::filesystem::exists(std::string(WINE_PREFIX) + "/system.reg")) {
                std::ofstream(ready) << "ok\n";
            } else {
                ADD_FAILURE() << "no Wine prefix made:\n" << boot.output;
            }
        }
        ::flock(lock, LOCK_UN);
        ::close(lock);
    }

    CommandRun runUnattended(const std::string& exe, const std::string& destination) {
        return runCommand(wineEnvironment() + "wine " + shellQuoted(exe) + " /Q " +
                          shellQuoted("/T:" + windowsPath(destination)));
    }

    ScratchFolder scratch;
};

} // namespace kp::test
