// The self-extractor as its recipient meets it: run interactively under Wine on a
// private X display with a window manager, its windows answered with xdotool as a
// user would answer them. These tests share one Wine prefix and run one at a time
// (ctest's resource lock): a prefix's Wine processes belong to one display.
#include "CabinetCheck.h"
#include "WineTest.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

namespace fs = std::filesystem;

namespace kp::test {

namespace {

class RecipientTest : public ::testing::Test {
protected:
    // Emulated, Wine's windows come up minutes late and go as slowly: these tests
    // answer windows by their timing, and there they only time out. The unattended
    // tests still run.
    static bool emulated() { return wineSlowness() > 1; }
    static void SetUpTestSuite() {
        if (!emulated()) {
            prefixProblem() = prepareWinePrefix(WINE_DESKTOP_PREFIX);
        }
    }
    static std::string& prefixProblem() {
        static std::string problem;
        return problem;
    }

    void SetUp() override {
        if (emulated()) {
            GTEST_SKIP() << "32-bit programs run emulated on this machine (qemu-i386): the "
                            "interactive self-extractor tests need Wine at native speed";
        }
        ASSERT_EQ(prefixProblem(), "");
        for (const char* tool : {"Xvfb", "openbox", "xdotool"}) {
            if (runCommand(std::string("command -v ") + tool).exitCode != 0) {
                GTEST_SKIP() << tool << " is not installed (scripts/deps installs it)";
            }
        }
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        xvfb = ::fork();
        ASSERT_GE(xvfb, 0);
        if (xvfb == 0) {
            ::close(pipeEnds[0]);
            std::string fd = std::to_string(pipeEnds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        std::string number;
        pollfd ready{pipeEnds[0], POLLIN, 0};
        char c;
        while (::poll(&ready, 1, 20000) == 1 && ::read(pipeEnds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(pipeEnds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display = ":" + number;
        windowManager = ::fork();
        ASSERT_GE(windowManager, 0);
        if (windowManager == 0) {
            ::setenv("DISPLAY", display.c_str(), 1);
            int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::execlp("openbox", "openbox", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    void TearDown() override {
        if (display.empty()) {
            return;
        }
        runCommand(environment() + "wineserver -k");
        for (pid_t process : {windowManager, xvfb}) {
            if (process > 0) {
                ::kill(process, SIGTERM);
                ::waitpid(process, nullptr, 0);
            }
        }
    }

    std::string environment() const {
        return std::string("env DISPLAY=") + display + " WINEPREFIX=" + WINE_DESKTOP_PREFIX +
               " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
    }

    // Starts the self-extractor without /Q; finish() waits for its outcome. A test that
    // fails half-way leaves it to TearDown, which ends the prefix's processes.
    void start(const std::string& exe, const std::string& destination) {
        std::string command = environment() + "timeout 120 wine " + shellQuoted(exe) + " " +
                              shellQuoted("/T:" + windowsPath(destination));
        running = std::async(std::launch::async, runCommand, command);
    }

    CommandRun finish() { return running.get(); }

    // The first visible window titled `title`, or "" after `seconds` (longer where
    // Wine runs emulated).
    std::string waitForWindow(const std::string& title, int seconds = 30) {
        auto end =
            std::chrono::steady_clock::now() + std::chrono::seconds(seconds * wineSlowness());
        do {
            CommandRun found = runCommand(environment() + "xdotool search --onlyvisible --name " +
                                          shellQuoted("^" + title + "$"));
            if (found.exitCode == 0 && !found.output.empty()) {
                return found.output.substr(0, found.output.find('\n'));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < end);
        return "";
    }

    // Brings up the window titled `title`, types `keys` into it (xdotool's names) and
    // waits until it is gone, so that the next window of that title is another one.
    void answer(const std::string& title, const std::string& keys, bool untilGone = true) {
        std::string window = waitForWindow(title);
        ASSERT_FALSE(window.empty()) << "no window \"" << title << "\"";
        CommandRun typed = runCommand(environment() + "xdotool windowactivate --sync " + window +
                                      " key --clearmodifiers " + keys);
        ASSERT_EQ(typed.exitCode, 0) << typed.output;
        if (!untilGone) {
            return;
        }
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (runCommand(environment() + "xdotool search --onlyvisible --name " +
                          shellQuoted("^" + title + "$"))
                   .output.find(window + "\n") != std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "\"" << title << "\" stays";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::string makeSelfExtractor(const std::string& method = "mszip") {
        std::string exe = scratch.path("setup.exe");
        CommandRun made = runCommand(std::string(KCAB_PATH) + " -q -r -m " + method + " --sfx " +
                                     shellQuoted(exe) + " " + shellQuoted(scratch.path("tree")));
        EXPECT_EQ(made.exitCode, 0) << made.output;
        return exe;
    }

    static constexpr const char* kTitle = "Self-Extracting Cabinet";
    static constexpr const char* kQuestion = "Confirm File Replace";
    static constexpr const char* kProgress = "Extracting files";

    ScratchFolder scratch;
    std::string display;
    pid_t xvfb = -1;
    pid_t windowManager = -1;
    std::future<CommandRun> running; // destroyed after TearDown
};

TEST_F(RecipientTest, NoKeepsTheirFileYesReplacesItAndTheProgressWindowShows) {
    scratch.write("tree/a.txt", "package a\n");
    scratch.write("tree/b.txt", "package b\n");
    scratch.write("tree/c.txt", "package c\n");
    std::string exe = makeSelfExtractor();
    scratch.write("dest/a.txt", "their a\n");
    scratch.write("dest/b.txt", "their b\n");

    start(exe, scratch.path("dest"));
    answer(kTitle, "y");
    ASSERT_FALSE(waitForWindow(kQuestion).empty());
    EXPECT_FALSE(waitForWindow(kProgress, 5).empty()) << "no progress window while extracting";
    answer(kQuestion, "alt+n"); // a.txt
    answer(kQuestion, "alt+y"); // b.txt
    answer(kTitle, "Return");
    CommandRun outcome = finish();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_EQ(readTree(scratch.path("dest")),
              (std::map<std::string, std::string>{
                  {"a.txt", "their a\n"}, {"b.txt", "package b\n"}, {"c.txt", "package c\n"}}));
}

TEST_F(RecipientTest, CancelInTheQuestionLeavesTheFolderAsItWas) {
    scratch.write("tree/a.txt", "written before the question\n");
    scratch.write("tree/new/deep/b.txt", "package b\n");
    scratch.write("tree/z.txt", "package z\n");
    std::string exe = makeSelfExtractor();
    scratch.write("dest/z.txt", "their z\n");
    scratch.write("dest/other.txt", "their other\n");
    std::map<std::string, std::string> before = readTree(scratch.path("dest"));

    start(exe, scratch.path("dest"));
    answer(kTitle, "y");
    answer(kQuestion, "Escape");
    answer(kTitle, "Return");
    CommandRun outcome = finish();
    EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
    EXPECT_EQ(readTree(scratch.path("dest")), before);
    EXPECT_FALSE(fs::exists(scratch.path("dest/new"))) << "a folder the run made is left";
}

TEST_F(RecipientTest, CancelInTheProgressWindowStopsAndLeavesNothingOfTheRun) {
    // Zeros pack small and take Wine some seconds to write: time enough to cancel.
    scratch.write("tree/early.txt", "written first\n");
    scratch.write("tree/zeros.bin", std::string(300u << 20, '\0'));
    std::string exe = makeSelfExtractor();
    fs::remove(scratch.path("tree/zeros.bin"));
    scratch.write("dest/theirs.txt", "their own\n");

    start(exe, scratch.path("dest"));
    // No time is lost on the question box: the progress window is what matters.
    answer(kTitle, "y", false);
    answer(kProgress, "Escape");
    answer(kTitle, "Return");
    CommandRun outcome = finish();
    EXPECT_EQ(outcome.exitCode, 1) << "cancelled too late?\n" << outcome.output;
    EXPECT_EQ(readTree(scratch.path("dest")),
              (std::map<std::string, std::string>{{"theirs.txt", "their own\n"}}));
}

} // namespace

} // namespace kp::test
