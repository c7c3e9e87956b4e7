// kcab --sfx in-process: what goes into the self-extractor, and every way it can fail.
// Running the result under Wine is the stubs' end-to-end test.
#include "CabinetCheck.h"
#include "CatchesSignal.h"
#include "EngineFixture.h"
#include "KcabRun.h"
#include "platform/LastError.h"
#include "platform/ProgramFolder.h"
#include "selfextract/ImageBytes.h"
#include "selfextract/PeImage.h"
#include "selfextract/ResourceUpdate.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class KcabSfxTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        stubFolder = programFolder();
        if (!std::filesystem::exists(stubFolder + "kstub16.exe") ||
            !std::filesystem::exists(stubFolder + "kstub08.exe")) {
            GTEST_SKIP() << "the stubs are not built (no cross compiler or nasm)";
        }
        tree = scratch.folder("tree");
        scratch.write("tree/readme.txt", "read me\n");
        scratch.write("tree/sub/random.bin", randomBytes(100000, 3));
        out = scratch.path("out/setup.exe");
        scratch.folder("out");
    }

    void TearDown() override {
        setResourceUpdateAvailable(true);
        EngineFixture::TearDown();
    }

    int run(std::vector<std::string> arguments) {
        std::ostringstream outText;
        std::ostringstream errText;
        int code = runKcab(arguments, outText, errText, KcabTerminal{}, interrupt);
        err = errText.str();
        return code;
    }

    std::vector<std::string> outFolder() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path("out"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::atomic<bool> interrupt{false};
    std::string stubFolder;
    std::string tree;
    std::string out;
    std::string err;
};

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<Resource> resourcesOf(const std::string& path) {
    std::vector<std::uint8_t> image = bytesOf(readFileBytes(path));
    ImageBytes bytes(image);
    return readPeResources(bytes, readPeLayout(bytes));
}

// The data of a raw-data resource in language 9, as the self-extractor reads it; empty
// when it is missing (no resource we write is empty).
std::vector<std::uint8_t> rawData(std::vector<Resource>& resources, const std::u16string& name) {
    Resource* found =
        findResource(resources, ResourceName::fromId(10), ResourceName::fromText(name), 9);
    return found ? found->data : std::vector<std::uint8_t>{};
}

TEST_F(KcabSfxTest, TheStubCarriesTheCabinetAndThePromptInWindows1252) {
    std::string cabinet = scratch.path("out/kept.cab");
    ASSERT_EQ(run({"-q", "-r", "-m", "mszip", "-o", cabinet, "--sfx", out, "--prompt",
                   "Gr\xC3\xBC\xC3\x9F"
                   "e \xE2\x82\xAC \xE6\x97\xA5?",
                   tree}),
              0)
        << err;
    std::vector<Resource> resources = resourcesOf(out);
    EXPECT_EQ(rawData(resources, u"CABINET"), bytesOf(readFileBytes(cabinet)));
    EXPECT_EQ(rawData(resources, u"UPROMPT"), bytesOf(std::string("Gr\xFC\xDF"
                                                                  "e \x80 ??",
                                                                  10) +
                                                      '\0'));
    EXPECT_EQ(resources.size(), resourcesOf(stubFolder + "kstub16.exe").size() + 2)
        << "the stub's own resources stay";
}

TEST_F(KcabSfxTest, WithoutAnOutputCabinetOnlyTheSelfExtractorIsLeft) {
    ASSERT_EQ(run({"-q", "-r", "--sfx", out, tree}), 0) << err;
    EXPECT_EQ(outFolder(), std::vector<std::string>{"setup.exe"});
    std::vector<Resource> resources = resourcesOf(out);
    EXPECT_EQ(rawData(resources, u"UPROMPT"),
              bytesOf(std::string("Remove files from cabinet?", 27)));
}

TEST_F(KcabSfxTest, TheDosLayoutIsTheStubFollowedByTheCabinet) {
    std::string cabinet = scratch.path("out/kept.cab");
    ASSERT_EQ(run({"-q", "-r", "-o", cabinet, "--sfx", out, "--sfx-dos", tree}), 0) << err;
    EXPECT_EQ(readFileBytes(out),
              readFileBytes(stubFolder + "kstub08.exe") + readFileBytes(cabinet));

    // Where resource update is unavailable, the same layout comes instead, with a word.
    setResourceUpdateAvailable(false);
    ASSERT_EQ(run({"-q", "-f", "-r", "-o", cabinet, "--sfx", out, tree}), 0) << err;
    EXPECT_NE(err.find("DOS-based"), std::string::npos) << err;
    EXPECT_EQ(readFileBytes(out),
              readFileBytes(stubFolder + "kstub08.exe") + readFileBytes(cabinet));
}

TEST_F(KcabSfxTest, WhatWouldStopTheSelfExtractorIsRefusedBeforeAnyWork) {
    EXPECT_EQ(run({"-r", "--sfx", out, "--cabinet-size", "100000", tree}), 2);
    EXPECT_NE(err.find("--cabinet-size cannot be used with --sfx"), std::string::npos) << err;
    EXPECT_EQ(run({"-r", "--sfx", out, "--stub", scratch.path("nothing.exe"), tree}), 2);
    EXPECT_NE(err.find("no such stub"), std::string::npos) << err;
    EXPECT_EQ(run({"-r", "--sfx", scratch.path("missing/setup.exe"), tree}), 2);
    EXPECT_EQ(run({"-r", "--sfx-dos", "-o", scratch.path("out/x.cab"), tree}), 2);
    scratch.write("out/setup.exe", "precious");
    EXPECT_EQ(run({"-r", "--sfx", out, tree}), 2);
    EXPECT_NE(err.find("already exists (use -f to replace it)"), std::string::npos) << err;
    EXPECT_EQ(readFileBytes(out), "precious");
    EXPECT_EQ(outFolder(), std::vector<std::string>{"setup.exe"});
}

TEST_F(KcabSfxTest, AFailedWriteLeavesNoSelfExtractorAndNoCabinet) {
    injectFault({FileOperation::Write, ".setup.exe-building-", kErrorDiskFull, 0, -1});
    EXPECT_EQ(run({"-q", "-r", "--sfx", out, tree}), 1);
    EXPECT_NE(err.find("system error 112"), std::string::npos) << err;
    EXPECT_EQ(outFolder(), std::vector<std::string>{});
}

// Names Windows would not give back whole: a plain cabinet warns (it may be unpacked on
// Linux), a self-extractor is refused before compressing unless the loss is accepted,
// and a backslash inside a name is never stored.
TEST_F(KcabSfxTest, NamesWindowsWouldNotGiveBackStopASelfExtractorOnly) {
    std::string names = scratch.folder("names");
    scratch.write("names/a.txt", "one");
    scratch.write("names/a.txt.", "two");
    scratch.write("names/\xC3\x89t\xC3\xA9.txt", "three");
    scratch.write("names/\xC3\xA9T\xC3\xA9.TXT", "four");
    std::string cabinet = scratch.path("out/plain.cab");

    ASSERT_EQ(run({"-q", "-o", cabinet, names}), 0) << err;
    EXPECT_NE(err.find("warning: " + names + "a.txt.: stored as a.txt., but \"a.txt.\" ends with"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("which Windows takes for a.txt"), std::string::npos) << err;
    EXPECT_NE(err.find("which Windows takes for \xC3\x89t\xC3\xA9.txt"), std::string::npos) << err;
    EXPECT_EQ(cabinetContents(cabinet).size(), 4u);

    EXPECT_EQ(run({"-q", "--sfx", out, names}), 2);
    EXPECT_NE(err.find("--accept-name-loss"), std::string::npos) << err;
    EXPECT_EQ(outFolder(), std::vector<std::string>{"plain.cab"}) << "nothing of the run is left";

    ASSERT_EQ(run({"-q", "--accept-name-loss", "--sfx", out, names}), 0) << err;
    EXPECT_TRUE(std::filesystem::exists(out));

    scratch.write("names/..\\evil.txt", "x");
    EXPECT_EQ(run({"-q", "-f", "-o", cabinet, names}), 2);
    EXPECT_NE(err.find("holds a backslash"), std::string::npos) << err;
    EXPECT_EQ(cabinetContents(cabinet).size(), 4u) << "the earlier cabinet stays as it was";
}

// What lies in a folder, name -> bytes, links and special files by their kind.
std::map<std::string, std::string> folderState(const std::string& folder) {
    std::map<std::string, std::string> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (entry.is_symlink()) {
            state[name] = "link to " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            state[name] = readFileBytes(entry.path().string());
        } else {
            state[name] = entry.is_directory() ? "folder" : "special";
        }
    }
    return state;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The files packed into a self-extractor, read back from its CABINET resource.
NamedContents packedIn(const std::string& exe, const std::string& scratchCabinet) {
    std::vector<Resource> resources = resourcesOf(exe);
    std::vector<std::uint8_t> cabinet = rawData(resources, u"CABINET");
    std::ofstream(scratchCabinet, std::ios::binary)
        .write(reinterpret_cast<const char*>(cabinet.data()),
               static_cast<std::streamsize>(cabinet.size()));
    return cabinetContents(scratchCabinet);
}

TEST_F(KcabSfxTest, TargetsThatAreNoRegularFileOrAnInputAreRefusedBeforeCompressing) {
    scratch.write("out/file.exe", "a file a link leads to");
    std::filesystem::create_symlink(scratch.path("out/file.exe"), scratch.path("out/link.exe"));
    std::filesystem::create_symlink(scratch.path("out/none.exe"), scratch.path("out/dangling.exe"));
    ASSERT_EQ(::mkfifo(scratch.path("out/fifo.exe").c_str(), 0644), 0);
    scratch.folder("out/folder.exe");
    std::string device = scratch.path("out/null.exe");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        device = "/dev/null"; // no right to make devices here
    }
    const std::map<std::string, std::string> before = folderState(scratch.path("out"));
    const std::string input = scratch.path("tree/readme.txt");
    struct Case {
        std::string target;
        bool replace;
        std::string says;
    };
    for (const Case& c : std::vector<Case>{
             {scratch.path("out/link.exe"), true, "symbolic link"},
             {scratch.path("out/dangling.exe"), false, "symbolic link"},
             {scratch.path("out/fifo.exe"), true, "not a regular file"},
             {device, true, "not a regular file"},
             {scratch.path("out/folder.exe"), true, "is a folder"},
             {input, true, "is both an input and"},
         }) {
        SCOPED_TRACE(c.target);
        std::vector<std::string> arguments = {"-q", "--sfx", c.target, input, tree + "sub"};
        if (c.replace) {
            arguments.insert(arguments.begin(), "-f");
        }
        EXPECT_EQ(run(arguments), 2);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(folderState(scratch.path("out")), before);
        EXPECT_EQ(readFileBytes(input), "read me\n");
    }
}

TEST_F(KcabSfxTest, TheRunsOwnSelfExtractorIsNeverPacked) {
    std::string inside = tree + "self.exe";
    ASSERT_EQ(run({"-q", "-r", "--sfx", inside, tree}), 0) << err;
    ASSERT_EQ(run({"-q", "-f", "-r", "--sfx", inside, tree}), 0) << err;
    NamedContents packed = packedIn(inside, scratch.path("check.cab"));
    std::vector<std::string> names;
    for (const auto& [name, contents] : packed) {
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"readme.txt", "sub\\random.bin"}));
    EXPECT_EQ(folderState(tree).size(), 3u) << "nothing of the runs but self.exe is left";
}

// A stub that is no image, or only the start of one: the earlier self-extractor stays
// byte for byte, and nothing of the run is left.
TEST_F(KcabSfxTest, ABadOrTruncatedStubLeavesTheEarlierSelfExtractorAsItWas) {
    scratch.write("out/setup.exe", "precious");
    std::string whole = readFileBytes(stubFolder + "kstub16.exe");
    std::string bad = scratch.write("bad.exe", randomBytes(5000, 7));
    std::string truncated = scratch.write("truncated.exe", whole.substr(0, whole.size() / 3));
    for (const std::string& stub : {bad, truncated}) {
        SCOPED_TRACE(stub);
        EXPECT_EQ(run({"-q", "-f", "-r", "--sfx", out, "--stub", stub, tree}), 1);
        EXPECT_NE(err.find("system error 193"), std::string::npos) << err;
        EXPECT_EQ(folderState(scratch.path("out")),
                  (std::map<std::string, std::string>{{"setup.exe", "precious"}}));
    }
}

// Disk full while the .exe is written, in both layouts, on a small file system of its
// own (the cabinet is made elsewhere).
TEST_F(KcabSfxTest, AFullDiskLeavesTheEarlierSelfExtractorAsItWasInBothLayouts) {
    std::string small = scratch.folder("small");
    if (std::system(
            ("mount -t tmpfs -o size=1m tmpfs " + shellQuote(small) + " 2>/dev/null").c_str()) !=
        0) {
        GTEST_SKIP() << "cannot mount a small file system here (not root?)";
    }
    struct Unmount {
        std::string folder;
        ~Unmount() { std::system(("umount " + shellQuote(folder)).c_str()); }
    } unmount{small};
    scratch.write("big/random.bin", randomBytes(3 << 20, 11));
    const std::string earlier = randomBytes(200000, 5);
    const std::string target = small + "setup.exe";
    std::ofstream(target, std::ios::binary) << earlier;
    for (bool dos : {false, true}) {
        SCOPED_TRACE(dos ? "DOS" : "Windows");
        std::vector<std::string> arguments = {"-q",    "-f",
                                              "-m",    "none",
                                              "--sfx", target,
                                              "-o",    scratch.path("kept.cab"),
                                              "-r",    scratch.path("big")};
        if (dos) {
            arguments.push_back("--sfx-dos");
        }
        EXPECT_EQ(run(arguments), 1);
        EXPECT_NE(err.find("system error 112"), std::string::npos) << err;
        EXPECT_EQ(folderState(small), (std::map<std::string, std::string>{{"setup.exe", earlier}}));
    }
}

// The cabinet is copied into the image in pieces: a build succeeds under an address
// space limit well below the cabinet's size, and holds the cabinet whole.
TEST_F(KcabSfxTest, ABuildUnderAMemoryLimitFarBelowTheCabinetSucceeds) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit in a small address space";
#endif
    const std::string input = scratch.write("big/r.bin", randomBytes(64 << 20, 13));
    const std::string command = "ulimit -v 40000; " + shellQuote(KCAB_PATH) + " -q -m none --sfx " +
                                shellQuote(out) + " " + shellQuote(input) + " 2>" +
                                shellQuote(scratch.path("err.txt"));
    int status = std::system(("/bin/sh -c " + shellQuote(command)).c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << readFileBytes(scratch.path("err.txt"));
    NamedContents packed = packedIn(out, scratch.path("check.cab"));
    ASSERT_EQ(packed.size(), 1u);
    EXPECT_EQ(packed[0].first, "r.bin");
    EXPECT_TRUE(packed[0].second == readFileBytes(input));
    EXPECT_EQ(outFolder(), std::vector<std::string>{"setup.exe"});
}

// INT, TERM, HUP, QUIT or PIPE at a random moment of a large build: the run ends with
// 130 and leaves the earlier .exe byte for byte, or it had already put the new one in
// place before the signal came. Never anything else in the folder.
TEST_F(KcabSfxTest, ASignalAtARandomMomentEndsTheRunCleanly) {
    scratch.write("big/random.bin", randomBytes(40 << 20, 17));
    std::string big = scratch.path("big");
    auto start = [&](const std::vector<std::string>& arguments) {
        pid_t child = ::fork();
        if (child == 0) {
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(KCAB_PATH));
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(KCAB_PATH, argv.data());
            ::_exit(127);
        }
        return child;
    };
    const std::vector<std::string> arguments = {"-q", "-f", "-m", "none", "--sfx", out, "-r", big};
    auto begun = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(start(arguments), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto whole = std::chrono::steady_clock::now() - begun;

    std::mt19937 random(std::random_device{}());
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    for (int round = 0; round < 10; ++round) {
        const int signal = signals[round % 5];
        auto delay = std::chrono::duration_cast<std::chrono::microseconds>(whole) *
                     std::uniform_real_distribution<double>(0.05, 1.0)(random);
        SCOPED_TRACE("signal " + std::to_string(signal) + " after " +
                     std::to_string(delay.count()) + " us");
        const std::string earlier = readFileBytes(out);
        pid_t child = start(arguments);
        // A signal that comes before main() has set its handlers meets the default
        // action, which no program can change: the moment counts from when kcab
        // catches it.
        bool reaped = !waitUntilCatching(child, signal, status);
        if (!reaped) {
            std::this_thread::sleep_for(delay);
        }
        struct timespec sent {};
        ::clock_gettime(CLOCK_REALTIME, &sent);
        bool running = !reaped && ::waitpid(child, &status, WNOHANG) == 0;
        auto signalled = std::chrono::steady_clock::now();
        if (running) {
            ::kill(child, signal);
            ::waitpid(child, &status, 0);
        }
        auto afterSignal = std::chrono::steady_clock::now() - signalled;
        ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal";
        std::map<std::string, std::string> state = folderState(scratch.path("out"));
        ASSERT_EQ(state.size(), 1u) << "only setup.exe is left";
        if (WEXITSTATUS(status) == 130) {
            EXPECT_TRUE(state["setup.exe"] == earlier) << "the earlier .exe changed";
        } else {
            ASSERT_EQ(WEXITSTATUS(status), 0);
            // Finished: then the new file took its name before the signal was sent.
            struct stat placed {};
            ASSERT_EQ(::stat(out.c_str(), &placed), 0);
            // A signal that comes while the finished file is being renamed into place
            // lets that rename end the run: then it ended at once.
            EXPECT_TRUE(
                !running || placed.st_ctim.tv_sec < sent.tv_sec ||
                (placed.st_ctim.tv_sec == sent.tv_sec && placed.st_ctim.tv_nsec <= sent.tv_nsec) ||
                afterSignal < std::chrono::seconds(1))
                << "the signal was ignored";
            NamedContents packed = packedIn(out, scratch.path("check.cab"));
            ASSERT_EQ(packed.size(), 1u);
            EXPECT_TRUE(packed[0].second == readFileBytes(big + "/random.bin"));
        }
    }
}

} // namespace

} // namespace kp::test
