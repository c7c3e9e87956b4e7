// kcab end to end: in-process where a fault must be injected, as a process otherwise.
#include "KcabRun.h"
#include "CatchesSignal.h"
#include "EngineFixture.h"
#include "cab_format.h"
#include "codec.h"
#include "engine/FolderWalk.h"
#include "platform/LastError.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <random>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kp::platform;

namespace kp::test {

namespace {

struct KcabResult {
    int exitCode;
    std::string out;
    std::string err;
};

bool lzxAvailable() {
    unsigned windowBits = 0;
    return kp::cab::codecFor(TCOMPfromLZXWindow(21), &windowBits) != nullptr;
}

class KcabRunTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        tree = scratch.folder("tree");
        scratch.write("tree/readme.txt", "read me\n");
        scratch.write("tree/empty", "");
        scratch.write("tree/bin/random.bin", randomBytes(150000, 7));
        scratch.write("tree/bin/deeper/text.txt", std::string(70000, 'z'));
        scratch.write("tree/\xc3\xbc"
                      "ber.txt",
                      "utf-8 name");
        out = scratch.path("out.cab");
    }

    KcabResult run(std::vector<std::string> arguments, bool terminal = false) {
        std::ostringstream outText;
        std::ostringstream errText;
        int code = runKcab(arguments, outText, errText, KcabTerminal{terminal, 100}, interrupt);
        return {code, outText.str(), errText.str()};
    }

    // Runs the real binary; stdout and stderr together.
    KcabResult runProcess(const std::string& arguments, const std::string& environment = "") {
        std::string command =
            environment + " " + std::string(KCAB_PATH) + " " + arguments + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string output;
        char buffer[512];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe)) {
            output += buffer;
        }
        int status = pipe ? ::pclose(pipe) : -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output, output};
    }

    void expectTreeExtracted(const std::string& cabinet) {
        auto extracted = extractWithCabextract(cabinet, scratch.path("extracted"));
        EXPECT_EQ(extracted, readTree(tree));
    }

    std::atomic<bool> interrupt{false};
    std::string tree;
    std::string out;
};

class KcabRunMethodTest : public KcabRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KcabRunMethodTest, TreeWithRecursionExtractsToTheSameTree) {
    std::string method = GetParam();
    if (method.rfind("lzx", 0) == 0 && !lzxAvailable()) {
        GTEST_SKIP() << "the cabinet library has no LZX encoder yet";
    }
    KcabResult result = run({"-r", "-m", method, "-o", out, tree});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    expectTreeExtracted(out);
    for (const CabinetFile& file : readCabinet(out)) {
        EXPECT_EQ(file.name.find('/'), std::string::npos) << "stored with backslashes";
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, KcabRunMethodTest,
                         ::testing::Values("none", "mszip", "lzx:15", "lzx:21", "lzx"));

TEST_F(KcabRunTest, DefaultMethodIsLzx21) {
    if (!lzxAvailable()) {
        GTEST_SKIP() << "the cabinet library has no LZX encoder yet";
    }
    KcabResult result = runProcess("-r -q -o '" + out + "' '" + tree + "'");
    ASSERT_EQ(result.exitCode, 0) << result.out;
    std::string bytes = readFileBytes(out);
    unsigned type = cabinetU16(bytes, cab::cfheader::kSize + cab::cffolder::kCompressionType);
    EXPECT_EQ(type, TCOMPfromLZXWindow(21u)) << "LZX with a 2 MB window";
    expectTreeExtracted(out);
}

TEST_F(KcabRunTest, RealProcessPacksAndReportsEveryFile) {
    KcabResult result = runProcess("-r -m mszip -o '" + out + "' '" + tree + "'");
    ASSERT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("] " + tree + "bin/deeper/text.txt\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("kcab: wrote " + out + " (5 files, "), std::string::npos)
        << result.out;
    expectTreeExtracted(out);
}

TEST_F(KcabRunTest, ExistingOutputNeedsForce) {
    scratch.write("out.cab", "precious");
    KcabResult refused = runProcess("-m mszip -o '" + out + "' '" + tree + "'");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find(out + ": Cabinet already exists (use -f to replace it)"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(readFileBytes(out), "precious");

    KcabResult replaced = runProcess("-f -q -m mszip -o '" + out + "' '" + tree + "'");
    EXPECT_EQ(replaced.exitCode, 0) << replaced.out;
    EXPECT_EQ(replaced.out, "");
    EXPECT_EQ(cabinetContents(out), (NamedContents{{"empty", ""},
                                                   {"readme.txt", "read me\n"},
                                                   {"\xc3\xbc"
                                                    "ber.txt",
                                                    "utf-8 name"}}))
        << "a folder without -r gives only its own files";
}

TEST_F(KcabRunTest, UnreadableFileStopsTheRunWithItsNameAndSystemMessage) {
    injectFault({FileOperation::Read, "random.bin", kErrorReadFault, 0, -1});
    KcabResult result = run({"-r", "-m", "mszip", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kcab: " + tree +
                              "bin/random.bin: Failure reading file to be stored in cabinet "
                              "(system error 30: The system cannot read from the specified "
                              "device.) [error 802]\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

// What a given path names is asked through the platform layer, so a test can make the
// question fail as a disk or a permission would.
TEST_F(KcabRunTest, WhatAGivenPathNamesIsAskedInsideTheFaultSeam) {
    const std::string given = tree + "/readme.txt";
    injectFault({FileOperation::Status, "readme.txt", kErrorAccessDenied, 0, 1});
    KcabResult refused = run({"-q", "-m", "none", "-o", out, given});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "kcab: " + given + ": no such file or folder\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    KcabResult packed = run({"-q", "-m", "none", "-o", out, given});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(cabinetContents(out), (NamedContents{{"readme.txt", "read me\n"}}));
}

TEST_F(KcabRunTest, OutputFolderThatCannotBeWrittenIsReported) {
    std::string missing = scratch.path("no/such/folder/x.cab");
    KcabResult result = runProcess("-q -m none -o '" + missing + "' '" + tree + "'");
    EXPECT_EQ(result.exitCode, 2) << "found before any compression";
    EXPECT_EQ(result.out, "kcab: " + scratch.path("no/such/folder/") +
                              ": the output's folder does not exist\n");

    injectFault({FileOperation::Open, "out.cab", kErrorAccessDenied, 0, -1});
    KcabResult denied = run({"-q", "-m", "none", "-o", out, tree});
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_NE(denied.err.find("Could not create cabinet file (system error 5: Access is denied.)"),
              std::string::npos)
        << denied.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KcabRunTest, CommandLineMistakesExitWithTwo) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"-o", out, scratch.path("absent")},
                                               {"-o", out},
                                               {tree},
                                               {"-m", "lzx:22", "-o", out, tree},
                                               {"--paths", "some", "-o", out, tree},
                                               {"--folder-size", "0", "-o", out, tree},
                                               {"--cabinet-size", "3G", "-o", out, tree},
                                               {"-x", "-o", out, tree},
                                               {"-o", out, scratch.path("absent/*.txt")}}) {
        KcabResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.front();
        EXPECT_NE(result.err.find("kcab: "), std::string::npos);
    }
    std::string fifo = scratch.path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    KcabResult special = run({"-o", out, fifo});
    EXPECT_EQ(special.exitCode, 2);
    EXPECT_EQ(special.err, "kcab: " + fifo + ": not a regular file or folder\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KcabRunTest, HelpDocumentsEveryOption) {
    KcabResult result = run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option : {"Usage: kcab", "-o,", "-r,", "-m,", "lzx[:15..21]", "--folder-size",
                               "--cabinet-size", "OUT2.cab", "--paths", "relative", "full", "none",
                               "-f,", "-q,", "--verify", "-j,", "--threads", "Exit status"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
    EXPECT_NE(result.out.find("-e, --effort"), std::string::npos);
}

// The version is the project's, set once in CMake; it needs no cabinet or PATH, but a
// wrong option beside it is still a mistake.
TEST_F(KcabRunTest, VersionShowsTheProjectsVersionAlone) {
    KcabResult result = run({"--version"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, std::string("kcab (Korvath Pellix) ") + KP_VERSION + "\n");
    EXPECT_EQ(result.err, "");
    KcabResult mistaken = run({"--version", "--no-such-option"});
    EXPECT_EQ(mistaken.exitCode, 2);
    EXPECT_EQ(mistaken.out, "");
}

// Text that cannot be written (a full disk, a reader gone away) is a failure, as for
// any other command-line tool.
TEST_F(KcabRunTest, HelpAndVersionFailWhenTheirTextCannotBeWritten) {
    for (const char* option : {"--help", "--version"}) {
        std::ostringstream full;
        full.setstate(std::ios::badbit);
        std::ostringstream err;
        EXPECT_EQ(runKcab({option}, full, err, KcabTerminal{false, 100}, interrupt), 1) << option;
        EXPECT_EQ(err.str(), "kcab: cannot write to the standard output\n") << option;
    }
    KcabResult process = runProcess("--version >/dev/full");
    EXPECT_EQ(process.exitCode, 1) << process.out;
}

// The thread count changes how the work is shared, never the cabinet.
TEST_F(KcabRunTest, EveryThreadCountWritesTheSameCabinet) {
    std::string text;
    for (int line = 0; text.size() < 400000; ++line) {
        text += "line " + std::to_string(line * 7919 % 100003) + " of a text to pack\n";
    }
    scratch.write("tree/bin/more.txt", text);
    // A fixed set ID: only the compression may tell the runs apart.
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    for (const char* threads : {"1", "2", "3", "8"}) {
        for (const char* method : {"mszip", "lzx:16"}) {
            std::string name = scratch.path(std::string("j") + threads + method[0] + ".cab");
            KcabResult result = run({"-r", "-q", "-j", threads, "-m", method, "--folder-size",
                                     "100K", "-o", name, tree});
            ASSERT_EQ(result.exitCode, 0) << threads << ": " << result.err;
            std::string bytes = readFileBytes(name);
            std::string reference =
                readFileBytes(scratch.path(std::string("j1") + method[0] + ".cab"));
            EXPECT_TRUE(bytes == reference) << method << " at " << threads << " threads";
            if (std::string(threads) == "3") {
                expectTreeExtracted(name);
            }
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
    for (const char* bad : {"0", "65", "x", "2x", ""}) {
        KcabResult result = run({"--threads", bad, "-o", out, tree});
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_NE(result.err.find("wants 1 to 64 threads"), std::string::npos) << result.err;
    }
    EXPECT_EQ(run({"-j4", "-q", "-r", "-o", out, tree}).exitCode, 0);
}

// Effort buys LZX a smaller cabinet that still gives back every file; MSZIP has
// no choice to make, so its bytes are the same at every level.
TEST_F(KcabRunTest, HigherEffortWritesSmallerLzxAndTheSameMszip) {
    // Real text and code, where a deeper search finds what a quick one misses.
    std::string text;
    for (const char* licence :
         {"/usr/share/common-licenses/GPL-3", "/usr/share/common-licenses/LGPL-2.1",
          "/usr/share/common-licenses/Apache-2.0"}) {
        text += readFileBytes(licence);
    }
    ASSERT_GT(text.size(), 50000u);
    scratch.write("tree/bin/licences.txt", text);
    scratch.write("tree/bin/shell", readFileBytes("/bin/sh"));
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    std::map<std::string, std::uintmax_t> sizes;
    std::map<std::string, std::string> bytes;
    for (const char* effort : {"1", "3"}) {
        for (const char* method : {"lzx:21", "mszip"}) {
            std::string key = std::string(method) + "@" + effort;
            std::string name = scratch.path("e" + std::string(effort) + method[0] + ".cab");
            KcabResult result = run({"-r", "-q", "-e", effort, "-m", method, "-o", name, tree});
            ASSERT_EQ(result.exitCode, 0) << key << ": " << result.err;
            sizes[key] = std::filesystem::file_size(name);
            bytes[key] = readFileBytes(name);
            expectTreeExtracted(name);
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_LT(sizes["lzx:21@3"], sizes["lzx:21@1"]);
    EXPECT_TRUE(bytes["mszip@3"] == bytes["mszip@1"]);
    for (const char* bad : {"0", "4", "x", ""}) {
        KcabResult result = run({"--effort", bad, "-o", out, tree});
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_NE(result.err.find("wants 1 to 3"), std::string::npos) << result.err;
    }
}

TEST_F(KcabRunTest, StoredPathsFollowThePathsOption) {
    std::string file = tree + "bin/deeper/text.txt";
    std::string full = file.substr(1);
    std::replace(full.begin(), full.end(), '/', '\\');
    for (const auto& [paths, expected] : std::vector<std::pair<std::string, std::string>>{
             {"relative", "deeper\\text.txt"}, {"full", full}, {"none", "text.txt"}}) {
        std::filesystem::remove(out);
        KcabResult result =
            run({"-r", "-q", "-m", "mszip", "--paths", paths, "-o", out, scratch.path("tree/bin")});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        NamedContents contents = cabinetContents(out);
        ASSERT_EQ(contents.size(), 2u);
        EXPECT_EQ(contents[0],
                  (std::pair<std::string, std::string>{expected, std::string(70000, 'z')}))
            << paths;
    }
}

TEST_F(KcabRunTest, RelativePathsAreMadeAbsolute) {
    std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(tree);
    KcabResult result = run({"-q", "-m", "mszip", "--paths", "full", "-o", "../rel.cab",
                             "./bin/../readme.txt", "bin/*.bin"});
    std::filesystem::current_path(previous);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::string prefix = tree.substr(1);
    std::replace(prefix.begin(), prefix.end(), '/', '\\');
    EXPECT_EQ(cabinetContents(scratch.path("rel.cab")),
              (NamedContents{{prefix + "readme.txt", "read me\n"},
                             {prefix + "bin\\random.bin", randomBytes(150000, 7)}}));
}

TEST_F(KcabRunTest, MaskMatchingNothingIsWarnedAbout) {
    KcabResult result = run({"-q", "-m", "mszip", "-o", out, tree + "*.none", tree + "readme.txt"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "kcab: warning: " + tree + "*.none: matches no file\n");
    EXPECT_EQ(cabinetContents(out), (NamedContents{{"readme.txt", "read me\n"}}));
}

TEST_F(KcabRunTest, CabinetSizeMakesANumberedSet) {
    KcabResult result = run({"-r", "-m", "none", "--cabinet-size", "60000", "-o", out, tree});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(scratch.path("out2.cab")));
    EXPECT_TRUE(std::filesystem::exists(scratch.path("out3.cab")));
    EXPECT_NE(result.out.find("kcab: wrote " + out + ", " + scratch.path("out2.cab") + ", "),
              std::string::npos)
        << result.out;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        if (entry.path().extension() == ".cab") {
            EXPECT_LE(std::filesystem::file_size(entry.path()), 60000u) << entry.path();
        }
    }
    expectTreeExtracted(out);
}

TEST_F(KcabRunTest, MoreFilesThanOneCabinetListsGoOnInTheNextMemberOfTheSet) {
    std::string many = scratch.folder("many");
    for (int i = 0; i < 65536; ++i) {
        scratch.write("many/d" + std::to_string(i % 8) + "/f" + std::to_string(i),
                      i % 2 ? std::string() : std::string(1, char('a' + i % 26)));
    }
    KcabResult result = run({"-r", "-q", "-m", "mszip", "--cabinet-size", "100M", "-o", out, many});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto filesListed = [](const std::string& cabinet) {
        std::string bytes = readFileBytes(cabinet);
        return bytes.size() < cab::cfheader::kSize
                   ? 0u
                   : unsigned(cab::getU16(reinterpret_cast<const std::uint8_t*>(bytes.data()) +
                                          cab::cfheader::kFileCount));
    };
    EXPECT_EQ(filesListed(out), 65535u);
    EXPECT_EQ(filesListed(scratch.path("out2.cab")), 1u);
    EXPECT_FALSE(std::filesystem::exists(scratch.path("out3.cab")));
    EXPECT_EQ(extractWithCabextract(out, scratch.path("extracted")), readTree(many));
}

TEST_F(KcabRunTest, ExistingSetMemberStopsTheRunAndRemovesWhatItWrote) {
    scratch.write("out2.cab", "someone else's");
    KcabResult result = run({"-r", "-m", "none", "--cabinet-size", "60000", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(scratch.path("out2.cab") +
                              ": Cabinet already exists (use -f to replace it)"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(readFileBytes(scratch.path("out2.cab")), "someone else's");
    EXPECT_FALSE(std::filesystem::exists(out));

    KcabResult forced =
        run({"-r", "-f", "-q", "-m", "none", "--cabinet-size", "60000", "-o", out, tree});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    expectTreeExtracted(out);
}

TEST_F(KcabRunTest, ProgressIsABarOnATerminalAndNothingWhenQuiet) {
    KcabResult bar = run({"-r", "-m", "mszip", "-o", out, tree}, true);
    ASSERT_EQ(bar.exitCode, 0) << bar.err;
    EXPECT_NE(bar.out.find("\r[########################] 100% "), std::string::npos) << bar.out;
    EXPECT_EQ(bar.out.find("\n"), bar.out.rfind("\n")) << "only the summary ends a line";

    std::filesystem::remove(out);
    KcabResult quiet = run({"-r", "-q", "-m", "mszip", "-o", out, tree}, true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(KcabRunTest, InterruptStopsTheRunWithoutACabinet) {
    interrupt = true;
    KcabResult result = run({"-r", "-m", "mszip", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.err, "kcab: interrupted; no cabinet written\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace

namespace {

TEST_F(KcabRunTest, WhatTheWalkPassesOverIsNamed) {
    std::string odd = scratch.folder("odd");
    scratch.write("odd/kept.txt", "kept");
    scratch.write("odd/.hidden-file", "kept too");
    scratch.write("odd/.git/config", "not entered");
    ASSERT_EQ(::symlink(tree.c_str(), (odd + "tree-link").c_str()), 0);
    ASSERT_EQ(::symlink((odd + "gone").c_str(), (odd + "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((odd + "pipe").c_str(), 0600), 0);

    KcabResult result = run({"-r", "-q", "-m", "mszip", "-o", out, odd});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "kcab: warning: " + odd + ".git: hidden folder, not entered\n" +
                              "kcab: warning: " + odd + "dangling: dangling link, left out\n" +
                              "kcab: warning: " + odd + "pipe: not a regular file, left out\n" +
                              "kcab: warning: " + odd +
                              "tree-link: link to a folder, not entered\n");
    EXPECT_EQ(cabinetContents(out),
              (NamedContents{{".hidden-file", "kept too"}, {"kept.txt", "kept"}}));
}

// The names in `folder` (not beneath it) that a run of ours may leave: staging files
// of cabinets and temporary files.
std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> names = leftoverTempFiles(folder);
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        std::string name = item.path().filename().string();
        if (name.find(".kFw") != std::string::npos || name.rfind(".kcab", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

// Starts the real binary with TMPDIR set; returns its process id.
pid_t startKcab(const std::vector<std::string>& arguments, const std::string& tmpdir) {
    std::vector<std::string> argv = {KCAB_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    std::vector<std::string> environment = {"TMPDIR=" + tmpdir, "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    posix_spawn(&child, KCAB_PATH, &actions, nullptr, pointers.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

int exitCodeOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(KcabRunTest, OutputThatIsNoPlaceForACabinetIsRefusedBeforeCompressing) {
    std::string input = tree + "readme.txt";
    std::string hardLink = scratch.path("hard.cab");
    ASSERT_EQ(::link(input.c_str(), hardLink.c_str()), 0);
    std::string dangling = scratch.path("dangling.cab");
    ASSERT_EQ(::symlink(scratch.path("nowhere").c_str(), dangling.c_str()), 0);
    std::string device = scratch.path("device.cab");
    bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

    struct Case {
        std::string output;
        std::string says;
    };
    std::vector<Case> cases = {
        {input, input + ": is both an input and a cabinet this run replaces"},
        {hardLink, input + ": is both an input and a cabinet this run replaces"},
        {dangling, dangling + ": is a symbolic link; name the file it leads to instead"},
        {scratch.path("tree"), scratch.path("tree") + ": is a folder"},
        {scratch.path("none/x.cab"),
         scratch.path("none/") + ": the output's folder does not exist"},
    };
    if (haveDevice) {
        cases.push_back({device, device + ": is not a regular file"});
    }
    for (const Case& c : cases) {
        KcabResult result = run({"-f", "-q", "-m", "none", "-o", c.output, input});
        EXPECT_EQ(result.exitCode, 2) << c.output;
        EXPECT_EQ(result.err.rfind("kcab: " + c.says, 0), 0u) << result.err;
    }
    EXPECT_EQ(readFileBytes(input), "read me\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    if (haveDevice) {
        EXPECT_TRUE(std::filesystem::is_character_file(device));
    }
    EXPECT_TRUE(leftovers(scratch.path("")).empty());
}

TEST_F(KcabRunTest, SetWrittenInsideItsOwnTreePacksOnlyTheTree) {
    auto packedTree = readTree(tree);
    std::string first = tree + "set.cab";
    for (int round = 0; round < 2; ++round) {
        KcabResult result =
            run({"-r", "-f", "-q", "-m", "none", "--cabinet-size", "60000", "-o", first, tree});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        ASSERT_TRUE(std::filesystem::exists(tree + "set3.cab"));
        EXPECT_EQ(extractWithCabextract(first, scratch.path("x" + std::to_string(round))),
                  packedTree)
            << "round " << round;
    }
    // A shorter set replaces it; the earlier set's later members go, and the user is told.
    KcabResult shorter = run({"-r", "-f", "-m", "none", "-o", first, tree});
    ASSERT_EQ(shorter.exitCode, 0) << shorter.err;
    EXPECT_NE(shorter.out.find("kcab: removed " + tree + "set2.cab, " + tree + "set3.cab"),
              std::string::npos)
        << shorter.out;
    EXPECT_FALSE(std::filesystem::exists(tree + "set2.cab"));
    EXPECT_EQ(extractWithCabextract(first, scratch.path("x")), packedTree);
}

TEST_F(KcabRunTest, SignalAtARandomPointLeavesTheEarlierCabinetAndNothingOfTheRun) {
    std::string big = scratch.folder("big");
    for (int i = 0; i < 3; ++i) {
        scratch.write("big/part" + std::to_string(i), randomBytes(8 << 20, 10 + i));
    }
    std::string tmp = scratch.folder("childtmp");
    scratch.write("out.cab", "earlier cabinet");
    std::mt19937 random(std::random_device{}());
    int interrupted = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        pid_t child = startKcab({"-f", "-q", "-m", "mszip", "-o", out, big}, tmp);
        ASSERT_GT(child, 0);
        // The delay counts from when kcab catches the signal; a slow start (a sanitizer's
        // set-up, a loaded machine) would otherwise meet the default action.
        int status = 0;
        ASSERT_TRUE(waitUntilCatching(child, signal, status))
            << "kcab ended before it caught signal " << signal;
        int delay = std::uniform_int_distribution<int>(20, 400)(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(child, signal);
        int code = exitCodeOf(child);
        if (code == 0) { // done before the signal: the new cabinet, whole
            EXPECT_EQ(readCabinet(out).size(), 3u) << "signal " << signal;
            scratch.write("out.cab", "earlier cabinet");
        } else {
            ++interrupted;
            EXPECT_EQ(code, 130) << "signal " << signal << " after " << delay << " ms";
            EXPECT_EQ(readFileBytes(out), "earlier cabinet") << "signal " << signal;
        }
        EXPECT_TRUE(leftovers(scratch.path("")).empty()) << "signal " << signal;
        EXPECT_TRUE(leftovers(tmp).empty()) << "signal " << signal;
    }
    EXPECT_GT(interrupted, 0) << "every run finished before its signal: the input is too small";
}

TEST_F(KcabRunTest, ConcurrentRunsOnOneOutputLeaveOneWholeCabinet) {
    for (bool force : {true, false}) {
        std::filesystem::remove(out);
        std::vector<pid_t> children;
        for (int i = 0; i < 3; ++i) {
            std::vector<std::string> arguments = {"-r", "-q", "-m", "mszip", "-o", out, tree};
            if (force) {
                arguments.insert(arguments.begin(), "-f");
            }
            children.push_back(startKcab(arguments, tempFolder));
        }
        int succeeded = 0;
        for (pid_t child : children) {
            int code = exitCodeOf(child);
            EXPECT_TRUE(code == 0 || (!force && code == 1)) << code;
            succeeded += code == 0;
        }
        EXPECT_GE(succeeded, 1);
        EXPECT_EQ(extractWithCabextract(out, scratch.path(force ? "xf" : "x")), readTree(tree));
        EXPECT_TRUE(leftovers(scratch.path("")).empty());
    }
}

// The DOS date and time of each stored name of a one-cabinet file.
std::map<std::string, std::pair<unsigned, unsigned>> storedDates(const std::string& cabinet) {
    std::string bytes = readFileBytes(cabinet);
    std::map<std::string, std::pair<unsigned, unsigned>> dates;
    std::size_t at = cabinetU16(bytes, kp::cab::cfheader::kFilesOffset);
    for (unsigned i = 0; i < cabinetU16(bytes, kp::cab::cfheader::kFileCount); ++i) {
        std::size_t name = at + kp::cab::cffile::kSize;
        std::size_t end = bytes.find('\0', name);
        if (end == std::string::npos) {
            ADD_FAILURE() << "file record " << i << " runs past the cabinet";
            break;
        }
        dates[bytes.substr(name, end - name)] = {cabinetU16(bytes, at + kp::cab::cffile::kDate),
                                                 cabinetU16(bytes, at + kp::cab::cffile::kTime)};
        at = end + 1;
    }
    return dates;
}

TEST_F(KcabRunTest, SourceDateEpochGivesTheSameBytesInAnyZone) {
    std::string old = scratch.write("tree/old.txt", "dated before the epoch");
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}}; // 2020-09-13 12:26:40 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, old.c_str(), times, 0), 0);
    const std::string epoch = "SOURCE_DATE_EPOCH=1700000000"; // 2023-11-14 22:13:20 UTC
    std::string bytes[2];
    int i = 0;
    for (const char* zone : {"UTC", "Asia/Tokyo"}) {
        std::string cabinet = scratch.path("zone" + std::to_string(i) + ".cab");
        KcabResult result = runProcess(
            "-r -m mszip --paths none -o '" + cabinet + "' '" + tree + "'", epoch + " TZ=" + zone);
        ASSERT_EQ(result.exitCode, 0) << zone << ": " << result.out;
        bytes[i++] = readFileBytes(cabinet);
    }
    EXPECT_EQ(bytes[0], bytes[1]) << "the set ID or a date depends on the run or its zone";
    auto dates = storedDates(scratch.path("zone1.cab"));
    EXPECT_EQ(dates["old.txt"],
              std::make_pair(((2020u - 1980) << 9) | (9 << 5) | 13, (12u << 11) | (26 << 5) | 20));
    EXPECT_EQ(dates["readme.txt"],
              std::make_pair(((2023u - 1980) << 9) | (11 << 5) | 14, (22u << 11) | (13 << 5) | 10));
    KcabResult malformed = runProcess("-o '" + out + "' '" + tree + "'", "SOURCE_DATE_EPOCH=1e9");
    EXPECT_EQ(malformed.exitCode, 2) << malformed.out;
    EXPECT_NE(malformed.out.find("SOURCE_DATE_EPOCH"), std::string::npos) << malformed.out;
}

// A chain of folders made one level at a time (no single call takes a path past 4096
// bytes), removed the same way: the scratch folder's own removal goes by whole paths.
class DeepFolders {
public:
    explicit DeepFolders(const std::string& root) {
        fds.push_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY));
    }
    ~DeepFolders() {
        while (fds.size() > 1) {
            ::close(fds.back());
            fds.pop_back();
            for (const std::string& file : files[fds.size()]) {
                ::unlinkat(fds.back(), file.c_str(), 0);
            }
            ::unlinkat(fds.back(), names.back().c_str(), AT_REMOVEDIR);
            names.pop_back();
        }
        for (const std::string& file : files[0]) {
            ::unlinkat(fds.back(), file.c_str(), 0);
        }
        ::close(fds.back());
    }
    bool enter(const std::string& name) {
        if (::mkdirat(fds.back(), name.c_str(), 0755) != 0) {
            return false;
        }
        names.push_back(name);
        fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
        return fds.back() >= 0;
    }
    bool write(const std::string& name, const std::string& content) {
        int fd = ::openat(fds.back(), name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        bool written = fd >= 0 && ::write(fd, content.data(), content.size()) ==
                                      static_cast<ssize_t>(content.size());
        files[fds.size() - 1].push_back(name);
        return ::close(fd) == 0 && written;
    }

private:
    std::vector<int> fds;
    std::vector<std::string> names;
    std::map<std::size_t, std::vector<std::string>> files;
};

TEST_F(KcabRunTest, PathsPastTheSystemLimitAreRefusedByNameAndOnesUpToItPacked) {
    std::string root = scratch.folder("deep");
    DeepFolders deep(root);
    std::string path = root;
    while (path.size() < 3900) {
        std::string name(100, 'd');
        ASSERT_TRUE(deep.enter(name)) << path.size();
        path += name + "/";
    }
    std::string nearName(4095 - path.size(), 'n'); // a path of 4095 bytes exactly
    ASSERT_TRUE(deep.write(nearName, "at the limit"));
    std::string farName(4095 - path.size(), 'f'); // 4096 with its separator
    ASSERT_TRUE(deep.enter(farName));
    ASSERT_TRUE(deep.write("far.txt", "beyond it"));

    KcabResult refused = run({"-r", "--paths", "none", "-m", "none", "-o", out, root});
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find(path + farName + ": path longer than 4095 bytes"), std::string::npos)
        << refused.err.substr(refused.err.size() > 300 ? refused.err.size() - 300 : 0);
    EXPECT_FALSE(std::filesystem::exists(out));

    KcabResult packed = run({"-m", "none", "-o", out, path.substr(0, path.size() - 1)});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(cabinetContents(out), (NamedContents{{nearName, "at the limit"}}));
}

TEST_F(KcabRunTest, NamesAreShownEscapedAndNonUtf8NamesRefused) {
    scratch.write("tree/\x1b[2Jclear", "a name that would clear the screen");
    KcabResult shown = run({"-r", "-m", "none", "-o", out, tree});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out.find('\x1b'), std::string::npos);
    EXPECT_NE(shown.out.find(tree + "\\x1B[2Jclear\n"), std::string::npos) << shown.out;

    std::filesystem::remove(out);
    scratch.write("tree/caf\xe9", "latin-1");
    scratch.write("tree/caf\xff", "not text at all");
    KcabResult refused = run({"-r", "-q", "-m", "none", "-o", out, tree});
    EXPECT_EQ(refused.exitCode, 1);
    // The control character is first reported as a name Windows cannot create.
    EXPECT_TRUE(
        refused.err.ends_with("\nkcab: " + tree +
                              "caf\\xE9: File name is not valid UTF-8 (system error 1113: No "
                              "mapping for the Unicode character exists in the target multi-byte "
                              "code page.) [error 802]\n"))
        << refused.err;
    EXPECT_EQ(refused.err.find('\x1b'), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace

} // namespace kp::test

namespace kp::test {
namespace {

// What -f replaces may be an empty cabinet, a damaged one or no cabinet at all: kcab
// reads its header to find an earlier set, and whatever that reading meets, everything
// the user sees comes from kcab.
TEST_F(KcabRunTest, ReplacingAFileThatIsNoWholeCabinetSaysOnlyWhatKcabSays) {
    std::string empty = scratch.folder("empty");
    std::string cabinet = scratch.path("e.cab");
    ASSERT_EQ(runProcess("-q -o " + cabinet + " " + empty).exitCode, 0);
    std::string header = readFileBytes(cabinet);
    for (const std::string& earlier : {header, header.substr(0, 20), std::string("text\n")}) {
        scratch.write("e.cab", earlier);
        KcabResult result = runProcess("-f -q -o " + cabinet + " " + tree + "readme.txt");
        EXPECT_EQ(result.exitCode, 0) << result.err;
        std::istringstream lines(result.err);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.rfind("kcab: ", 0), 0u) << line;
        }
        EXPECT_EQ(extractWithCabextract(cabinet, scratch.path("x")).count("readme.txt"), 1u);
    }
}

TEST_F(KcabRunTest, OnlyTrueMembersOfALongerEarlierSetAreRemoved) {
    std::string folder = scratch.folder("v");
    scratch.write("v/one.txt", "1\n");
    scratch.write("v/twelve.txt", "12\n");
    std::string v1 = folder + "v1.cab";
    std::string v12 = folder + "v12.cab"; // the name of v1.cab's second member
    ASSERT_EQ(run({"-q", "-o", v12, folder + "twelve.txt"}).exitCode, 0);
    ASSERT_EQ(run({"-q", "-o", v1, folder + "one.txt"}).exitCode, 0);
    std::string unrelated = readFileBytes(v12);
    KcabResult again = run({"-f", "-o", v1, folder + "one.txt"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out.find("removed"), std::string::npos) << again.out;
    EXPECT_EQ(readFileBytes(v12), unrelated);
    // In a folder being packed it is a file like any other.
    KcabResult packed = run({"-f", "-q", "-o", v1, folder});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(readFileBytes(v12), unrelated);
    auto extracted = extractWithCabextract(v1, scratch.path("x"));
    EXPECT_EQ(extracted.count("v12.cab"), 1u);
    EXPECT_EQ(extracted["v12.cab"], unrelated);

    // A true member left over from a longer set goes; so does its chain, and only it.
    std::string set = scratch.path("s.cab");
    ASSERT_EQ(run({"-q", "-r", "-m", "none", "--cabinet-size", "60000", "-o", set, tree}).exitCode,
              0);
    ASSERT_TRUE(std::filesystem::exists(scratch.path("s3.cab")));
    std::string otherSet = scratch.path("other.cab");
    ASSERT_EQ(
        run({"-q", "-r", "-m", "none", "--cabinet-size", "60000", "-o", otherSet, tree}).exitCode,
        0);
    std::filesystem::rename(scratch.path("other3.cab"), scratch.path("s3.cab")); // another ID
    std::string foreign = readFileBytes(scratch.path("s3.cab"));
    KcabResult shorter = run({"-f", "-o", set, tree + "readme.txt"});
    ASSERT_EQ(shorter.exitCode, 0) << shorter.err;
    EXPECT_NE(shorter.out.find("kcab: removed " + scratch.path("s2.cab") + ", left from"),
              std::string::npos)
        << shorter.out;
    EXPECT_FALSE(std::filesystem::exists(scratch.path("s2.cab")));
    EXPECT_EQ(readFileBytes(scratch.path("s3.cab")), foreign);
}

TEST_F(KcabRunTest, ConcurrentRunsWritingOneSetNeverMixIt) {
    std::map<std::string, std::string> inputs[2];
    std::string paths[2];
    for (int i = 0; i < 2; ++i) {
        std::string name = i == 0 ? "A" : "B";
        paths[i] = scratch.folder(name);
        inputs[i]["d"] = randomBytes(100000, 40 + i);
        scratch.write(name + "/d", inputs[i]["d"]);
    }
    std::string set = scratch.path("o.cab");
    std::string tmp = scratch.folder("childtmp");
    for (int pair = 0; pair < 12; ++pair) {
        std::vector<pid_t> children;
        for (const std::string& input : paths) {
            children.push_back(startKcab(
                {"-q", "-f", "-m", "none", "--cabinet-size", "2000", "-o", set, input + "d"}, tmp));
        }
        for (pid_t child : children) {
            EXPECT_EQ(exitCodeOf(child), 0) << "pair " << pair;
        }
        auto extracted = extractWithCabextract(set, scratch.path("x" + std::to_string(pair)));
        EXPECT_TRUE(extracted == inputs[0] || extracted == inputs[1])
            << "pair " << pair << ": the set mixes the two runs";
        EXPECT_TRUE(leftovers(scratch.path("")).empty()) << "pair " << pair;
        EXPECT_TRUE(leftovers(tmp).empty()) << "pair " << pair;
    }
}

TEST_F(KcabRunTest, SignalDuringTheFinalWriteLeavesTheEarlierCabinetAndNothingOfTheRun) {
    scratch.folder("large");
    std::string large = scratch.path("large/zeros");
    { std::ofstream(large).close(); }
    std::filesystem::resize_file(large, std::uintmax_t(400) << 20); // sparse: quick to read
    std::string tmp = scratch.folder("childtmp");
    scratch.write("out.cab", "earlier cabinet");
    std::mt19937 random(std::random_device{}());
    int duringWrite = 0;
    for (int signal : {SIGINT, SIGTERM, SIGPIPE}) {
        pid_t child = startKcab({"-f", "-q", "-m", "none", "-o", out, large}, tmp);
        ASSERT_GT(child, 0);
        // The staging file appears when the last cabinet's writing starts.
        auto staged = [this] {
            for (const std::string& name : leftovers(scratch.path(""))) {
                if (name.rfind(".out.cab.", 0) == 0) {
                    return true;
                }
            }
            return false;
        };
        int status = 0;
        while (!staged() && ::waitpid(child, &status, WNOHANG) == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(staged()) << "kcab ended before writing its cabinet";
        int delay = std::uniform_int_distribution<int>(0, 30)(random);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        std::uintmax_t written = 0;
        for (const auto& item : std::filesystem::directory_iterator(scratch.path(""))) {
            if (item.path().filename().string().rfind(".out.cab.", 0) == 0) {
                written = item.file_size();
            }
        }
        ::kill(child, signal);
        int code = exitCodeOf(child);
        if (written > 0 && written < (std::uintmax_t(400) << 20)) {
            ++duringWrite; // killed mid-write: it must stop, never finish
            EXPECT_EQ(code, 130) << "signal " << signal << " at " << written << " bytes";
        }
        if (code == 130) {
            EXPECT_EQ(readFileBytes(out), "earlier cabinet") << "signal " << signal;
        } else {
            EXPECT_EQ(code, 0) << "signal " << signal;
            scratch.write("out.cab", "earlier cabinet");
        }
        EXPECT_TRUE(leftovers(scratch.path("")).empty()) << "signal " << signal;
        EXPECT_TRUE(leftovers(tmp).empty()) << "signal " << signal;
    }
    EXPECT_GT(duringWrite, 0) << "no signal came during the final write";
}

// The walk is in b7 when b7/b is swapped for a link to a folder outside the tree, or
// has listed b7/b when that happens: either way nothing of the link's target is read.
TEST_F(KcabRunTest, FolderSwappedForALinkDuringTheWalkIsNotFollowed) {
    for (const char* when : {"b7/", "b7/b/"}) {
        std::filesystem::remove_all(scratch.path("b7"));
        std::filesystem::remove_all(scratch.path("secret"));
        std::filesystem::remove(out);
        std::string root = scratch.folder("b7");
        scratch.write("b7/a/big", randomBytes(1000, 3));
        scratch.write("b7/b/y", "y\n");
        scratch.write("secret/passwd", "secret\n");
        scratch.write("secret/y", "not y\n");
        SetWalkStepHook([&](const std::string& folder) {
            if (folder == root + (when + 3)) {
                std::filesystem::rename(root + "b", root + "b.old");
                std::filesystem::create_directory_symlink(scratch.path("secret"), root + "b");
            }
        });
        KcabResult result = run({"-q", "-r", "-o", out, root});
        SetWalkStepHook({});
        EXPECT_EQ(result.exitCode, 1) << when;
        EXPECT_NE(result.err.find(root + "b/: The folder was replaced during the run"),
                  std::string::npos)
            << when << ": " << result.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << when;
    }
}

// Root passes every permission check, so the run is made by "nobody" in a child.
TEST_F(KcabRunTest, EntryInAFolderWithoutSearchPermissionIsAnErrorNamingIt) {
    std::string root = scratch.path("");
    ::chmod(root.c_str(), 0777);
    scratch.write("b8/top", "t\n");
    scratch.write("b8/closed/c", "c\n");
    ::chmod(scratch.path("b8/closed").c_str(), 0444);
    std::string report = scratch.path("report");
    std::string tmp = scratch.folder("childtmp");
    ::chmod(tmp.c_str(), 0777);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
            ::access(scratch.path("b8/closed/c").c_str(), R_OK) == 0) {
            ::_exit(77);
        }
        ::setenv("TMPDIR", tmp.c_str(), 1);
        int fd = ::open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(fd, STDERR_FILENO);
        ::execl(KCAB_PATH, KCAB_PATH, "-q", "-r", "-o", out.c_str(), scratch.path("b8").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(78);
    }
    int code = exitCodeOf(child);
    ::chmod(scratch.path("b8/closed").c_str(), 0755);
    if (code == 77) {
        GTEST_SKIP() << "cannot run as an unprivileged user here";
    }
    EXPECT_EQ(code, 1);
    EXPECT_NE(readFileBytes(report).find(scratch.path("b8/closed/c") +
                                         ": Could not read the file or folder"),
              std::string::npos)
        << readFileBytes(report);
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
} // namespace kp::test
