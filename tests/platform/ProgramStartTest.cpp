#include "platform/ProgramStart.h"
#include "PeTestFiles.h"
#include "ScratchFolder.h"
#include "platform/LastError.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class ProgramStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath = path ? path : "";
        marker = scratch.path("marker");
    }
    void TearDown() override { ::setenv("PATH", savedPath.c_str(), 1); }

    // A shell script that waits a moment, then writes its arguments to the marker.
    std::string script(const std::string& relative) {
        std::string path =
            scratch.write(relative, "#!/bin/sh\nsleep 0.5\necho \"$@\" > '" + marker + "'\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }

    std::string awaitMarker() {
        for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<std::uint8_t> bytes = readBytes(marker);
        return std::string(bytes.begin(), bytes.end());
    }

    ScratchFolder scratch;
    std::string savedPath;
    std::string marker;
};

TEST_F(ProgramStartTest, AnUnquotedPathWithSpacesRunsWithItsArgumentsWithoutWaiting) {
    std::string program = script("with space/run me.sh");
    EXPECT_GT(startProgram(program + " one \"two three\"", kShowNormal), 31u);
    EXPECT_EQ(lastError(), kErrorSuccess);
    EXPECT_FALSE(std::filesystem::exists(marker)) << "returned only after the program ended";
    EXPECT_EQ(awaitMarker(), "one two three\n");
}

TEST_F(ProgramStartTest, AWindowsProgramGoesToWineOrElseToTheDesktopsOpener) {
    std::string exe = scratch.write("my app.exe", "MZ and the rest of a Windows program");
    script("bin/wine");
    ::setenv("PATH", scratch.path("bin").c_str(), 1);
    EXPECT_GT(startProgram(exe, kShowNormal), 31u);
    EXPECT_EQ(awaitMarker(), exe + "\n");

    std::filesystem::remove(marker);
    script("opener/xdg-open");
    ::setenv("PATH", scratch.path("opener").c_str(), 1);
    EXPECT_GT(startProgram("\"" + exe + "\"", kShowNormal), 31u);
    EXPECT_EQ(awaitMarker(), exe + "\n");

    ::setenv("PATH", scratch.path("nothing").c_str(), 1);
    EXPECT_EQ(startProgram(exe, kShowNormal), kErrorBadFormat);
}

// The watch tells a program still running from one that ended, and how it ended,
// without waiting for it.
TEST_F(ProgramStartTest, AWatchLearnsWhenAndHowTheProgramEnded) {
    std::string program = scratch.write("ends.sh", "#!/bin/sh\nsleep 0.5\nexit 7\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ProgramWatch watch;
    ASSERT_GT(startProgram(program, kShowNormal, &watch), 31u);
    int code = 0;
    EXPECT_FALSE(watch.Ended(code)) << "still sleeping";
    for (int i = 0; i < 100 && !watch.Ended(code); ++i) {
        ::usleep(50000);
    }
    EXPECT_EQ(code, 7);
    EXPECT_FALSE(watch.Ended(code)) << "an end is told once";

    ProgramWatch missing;
    EXPECT_EQ(startProgram(scratch.path("missing.exe"), kShowNormal, &missing), kErrorFileNotFound);
    EXPECT_FALSE(missing.Ended(code));
}

TEST_F(ProgramStartTest, AMissingProgramIsReported) {
    EXPECT_EQ(startProgram(scratch.path("missing.exe"), kShowNormal), kErrorFileNotFound);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_EQ(startProgram(scratch.path("gone/missing.exe"), kShowNormal), kErrorPathNotFound);
    EXPECT_EQ(lastError(), kErrorPathNotFound);
}

} // namespace

} // namespace kp::test
