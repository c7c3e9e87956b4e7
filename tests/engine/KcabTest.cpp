// kcab end to end: in-process where a fault must be injected, as a process otherwise.
#include "EngineFixture.h"
#include "KcabRun.h"
#include "codec.h"
#include "platform/LastError.h"

#include <cstdio>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace kp::platform;

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

class KcabTest : public EngineFixture {
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
        int code = RunKcab(arguments, outText, errText, KcabTerminal{terminal, 100}, interrupt);
        return {code, outText.str(), errText.str()};
    }

    // Runs the real binary; stdout and stderr together.
    KcabResult runProcess(const std::string& arguments) {
        std::string command = std::string(KCAB_PATH) + " " + arguments + " 2>&1";
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

class KcabMethodTest : public KcabTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KcabMethodTest, TreeWithRecursionExtractsToTheSameTree) {
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

INSTANTIATE_TEST_SUITE_P(Methods, KcabMethodTest,
                         ::testing::Values("none", "mszip", "lzx:15", "lzx:21", "lzx"));

TEST_F(KcabTest, DefaultMethodIsLzx21) {
    if (!lzxAvailable()) {
        GTEST_SKIP() << "the cabinet library has no LZX encoder yet";
    }
    KcabResult result = runProcess("-r -q -o '" + out + "' '" + tree + "'");
    ASSERT_EQ(result.exitCode, 0) << result.out;
    std::string bytes = readFileBytes(out);
    ASSERT_GT(bytes.size(), 36 + 8u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[36 + 6]), 3u) << "LZX";
    EXPECT_EQ(static_cast<unsigned char>(bytes[36 + 7]), 21u) << "2 MB window";
    expectTreeExtracted(out);
}

TEST_F(KcabTest, RealProcessPacksAndReportsEveryFile) {
    KcabResult result = runProcess("-r -m mszip -o '" + out + "' '" + tree + "'");
    ASSERT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("] " + tree + "bin/deeper/text.txt\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("kcab: wrote " + out + " (5 files, "), std::string::npos)
        << result.out;
    expectTreeExtracted(out);
}

TEST_F(KcabTest, ExistingOutputNeedsForce) {
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

TEST_F(KcabTest, UnreadableFileStopsTheRunWithItsNameAndSystemMessage) {
    injectFault({FileOperation::Read, "random.bin", kErrorReadFault, 0, -1});
    KcabResult result = run({"-r", "-m", "mszip", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kcab: " + tree +
                              "bin/random.bin: Failure reading file to be stored in cabinet "
                              "(system error 30: The system cannot read from the specified "
                              "device.) [error 802]\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KcabTest, OutputFolderThatCannotBeWrittenIsReported) {
    std::string missing = scratch.path("no/such/folder/x.cab");
    KcabResult result = runProcess("-q -m none -o '" + missing + "' '" + tree + "'");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find(missing + ": Could not create cabinet file (system error 3: The "
                                        "system cannot find the path specified.)"),
              std::string::npos)
        << result.out;

    injectFault({FileOperation::Open, "out.cab", kErrorAccessDenied, 0, -1});
    KcabResult denied = run({"-q", "-m", "none", "-o", out, tree});
    EXPECT_EQ(denied.exitCode, 1);
    EXPECT_NE(denied.err.find("Could not create cabinet file (system error 5: Access is denied.)"),
              std::string::npos)
        << denied.err;
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KcabTest, CommandLineMistakesExitWithTwo) {
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

TEST_F(KcabTest, HelpDocumentsEveryOption) {
    KcabResult result = run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option : {"Usage: kcab", "-o,", "-r,", "-m,", "lzx[:15..21]", "--folder-size",
                               "--cabinet-size", "OUT2.cab", "--paths", "relative", "full", "none",
                               "-f,", "-q,", "--verify", "Exit status"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST_F(KcabTest, StoredPathsFollowThePathsOption) {
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

TEST_F(KcabTest, RelativePathsAreMadeAbsolute) {
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

TEST_F(KcabTest, MaskMatchingNothingIsWarnedAbout) {
    KcabResult result = run({"-q", "-m", "mszip", "-o", out, tree + "*.none", tree + "readme.txt"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "kcab: warning: " + tree + "*.none: matches no file\n");
    EXPECT_EQ(cabinetContents(out), (NamedContents{{"readme.txt", "read me\n"}}));
}

TEST_F(KcabTest, CabinetSizeMakesANumberedSet) {
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

TEST_F(KcabTest, ExistingSetMemberStopsTheRunAndRemovesWhatItWrote) {
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

TEST_F(KcabTest, ProgressIsABarOnATerminalAndNothingWhenQuiet) {
    KcabResult bar = run({"-r", "-m", "mszip", "-o", out, tree}, true);
    ASSERT_EQ(bar.exitCode, 0) << bar.err;
    EXPECT_NE(bar.out.find("\r[########################] 100% "), std::string::npos) << bar.out;
    EXPECT_EQ(bar.out.find("\n"), bar.out.rfind("\n")) << "only the summary ends a line";

    std::filesystem::remove(out);
    KcabResult quiet = run({"-r", "-q", "-m", "mszip", "-o", out, tree}, true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(KcabTest, InterruptStopsTheRunWithoutACabinet) {
    interrupt = true;
    KcabResult result = run({"-r", "-m", "mszip", "-o", out, tree});
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.err, "kcab: interrupted; no cabinet written\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace

namespace {

TEST_F(KcabTest, WhatTheWalkPassesOverIsNamed) {
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

} // namespace
