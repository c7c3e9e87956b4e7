// kcab --sfx in-process: what goes into the self-extractor, and every way it can fail.
// Running the result under Wine is the stubs' end-to-end test.
#include "CabinetCheck.h"
#include "EngineFixture.h"
#include "KcabRun.h"
#include "platform/ImageBytes.h"
#include "platform/LastError.h"
#include "platform/PeImage.h"
#include "platform/ProgramFolder.h"
#include "platform/ResourceUpdate.h"

#include <filesystem>
#include <sstream>

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
        int code = RunKcab(arguments, outText, errText, KcabTerminal{}, interrupt);
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
    injectFault({FileOperation::Write, ".kp-", kErrorDiskFull, 0, -1});
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

} // namespace

} // namespace kp::test
