// Self-extractors run as a user would run them: kstub16 under Wine (32-bit), kstub08
// under DOSBox. Every check reads the files the program wrote, never only its exit
// code: a 32-bit program under a Wine without 32-bit support exits 0 doing nothing.
#include "CabinetCheck.h"
#include "WineTest.h"
#include "platform/FileCopy.h"
#include "platform/LastError.h"
#include "platform/ResourceUpdate.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kp::platform;
namespace fs = std::filesystem;

namespace kp::test {

namespace {

// Files whose names and contents exercise what a self-extractor must get right.
void writeAwkwardTree(const ScratchFolder& scratch) {
    scratch.write("tree/empty.txt", "");
    scratch.write("tree/name with spaces.txt", "spaces\r\n");
    scratch.write("tree/Gr\xC3\xBC\xC3\x9F"
                  "e \xE2\x82\xAC.txt",
                  "non-ASCII name\n");
    scratch.write(
        "tree/\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB.txt",
        "CJK\n");
    scratch.write("tree/a/b/c/deep.txt", "deep\n");
    scratch.write("tree/a/b/empty too", "");
    scratch.write("tree/random.bin", randomBytes(700000, 11)); // several folders' worth
    std::string text;
    for (int i = 0; text.size() < 600000; ++i) {
        text += "line " + std::to_string(i) + " of a compressible text file\n";
    }
    scratch.write("tree/text.txt", text);
}

// The names of files that are not in both trees with the same contents.
std::vector<std::string> differences(const std::map<std::string, std::string>& a,
                                     const std::map<std::string, std::string>& b) {
    std::vector<std::string> names;
    for (const auto& [name, contents] : a) {
        auto other = b.find(name);
        if (other == b.end() || other->second != contents) {
            names.push_back(name);
        }
    }
    for (const auto& [name, contents] : b) {
        if (!a.count(name)) {
            names.push_back(name);
        }
    }
    return names;
}

class SelfExtractorMethodTest : public WineTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(SelfExtractorMethodTest, UnpacksEveryFileByteForByte) {
    writeAwkwardTree(scratch);
    std::string exe = scratch.path("setup.exe");
    std::string cabinet = scratch.path("kept.cab");
    CommandRun made = runCommand(std::string(KCAB_PATH) + " -q -r -m " + GetParam() +
                                 " --folder-size 65536 -o " + shellQuoted(cabinet) + " --sfx " +
                                 shellQuoted(exe) + " " + shellQuoted(scratch.path("tree")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    std::map<std::string, std::string> original = readTree(scratch.path("tree"));
    // A decoder of our own choosing first, so that a wrong cabinet is told from a
    // wrong extraction.
    ASSERT_EQ(differences(extractWithCabextract(cabinet, scratch.path("cabextract")), original),
              std::vector<std::string>{})
        << "the cabinet itself does not hold the files";
    CommandRun run = runUnattended(exe, scratch.path("unpacked"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::map<std::string, std::string> unpacked = readTree(scratch.path("unpacked"));
    EXPECT_EQ(differences(unpacked, original), std::vector<std::string>{})
        << "files missing, extra or different after unpacking";
}

INSTANTIATE_TEST_SUITE_P(Methods, SelfExtractorMethodTest,
                         ::testing::Values("mszip", "lzx:15", "lzx:21"), [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
                             return name;
                         });

// Stored names rewritten in place to leave the destination every way there is.
TEST_F(WineTest, NamesThatLeaveTheDestinationAreRefusedAndNothingIsWrittenOutside) {
    std::string tag = fs::path(scratch.path()).parent_path().filename().string();
    tag = tag.substr(tag.size() - 6); // unique to this run
    struct Crafted {
        std::string packedAs;
        std::string storedAs;
    };
    std::vector<Crafted> crafted = {
        {"zz_up-" + tag, "..\\up-" + tag}, {"zzzzzztwoup-" + tag, "..\\..\\twoup-" + tag},
        {"_root-" + tag, "\\root-" + tag}, {"Q_drive-" + tag, "C:drive-" + tag},
        {"zzzzzz" + tag, "C:\\abs" + tag},
    };
    for (const Crafted& file : crafted) {
        scratch.write("flat/" + file.packedAs, "escaped\n");
    }
    scratch.write("flat/fine.txt", "fine\n");
    std::string cabinet = scratch.path("crafted.cab");
    CommandRun made = runCommand(std::string(KCAB_PATH) + " -q -m mszip -o " +
                                 shellQuoted(cabinet) + " " + shellQuoted(scratch.path("flat")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    std::string bytes = readFileBytes(cabinet);
    for (const Crafted& file : crafted) {
        std::string::size_type at = bytes.find(file.packedAs + '\0');
        ASSERT_NE(at, std::string::npos) << file.packedAs;
        ASSERT_EQ(file.packedAs.size(), file.storedAs.size());
        bytes.replace(at, file.storedAs.size(), file.storedAs);
    }
    std::string exe = scratch.path("crafted.exe");
    ASSERT_TRUE(copyFile(std::string(STUB_FOLDER) + "kstub16.exe", exe, false));
    ResourceUpdateHandle update = beginUpdateResource(exe, false);
    updateResource(update, kResourceTypeRcData, "CABINET", kLanguageEnglishNeutral, bytes.data(),
                   static_cast<std::uint32_t>(bytes.size()));
    ASSERT_TRUE(endUpdateResource(update, false)) << lastError();

    std::string destination = scratch.path("one/two/dest");
    CommandRun run = runUnattended(exe, destination);
    EXPECT_EQ(run.exitCode, 2) << "some files were not extracted\n" << run.output;
    EXPECT_EQ(readTree(destination), (std::map<std::string, std::string>{{"fine.txt", "fine\n"}}));
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
        std::string name = entry.path().filename().string();
        bool crafted =
            name.find(tag) != std::string::npos && entry.path().parent_path().filename() != "flat";
        EXPECT_FALSE(crafted) << entry.path() << " was written outside the destination";
    }
    for (const std::string& root : {std::string("/"), std::string(WINE_PREFIX) + "/drive_c/"}) {
        for (const char* name : {"root-", "drive-", "abs"}) {
            EXPECT_FALSE(fs::exists(root + name + tag)) << root + name + tag;
        }
    }
}

// A Linux folder may hold names that differ only in letter case; a Windows folder
// holds one of them, and the second must not silently replace the first.
TEST_F(WineTest, ASecondNameDifferingOnlyInLetterCaseIsRefusedNotWrittenOverTheFirst) {
    scratch.write("tree/html/Index.html", "the upper-case one\n");
    scratch.write("tree/html/index.html", "the lower-case one\n");
    scratch.write("tree/other.txt", "other\n");
    std::string exe = scratch.path("setup.exe");
    // kcab refuses such a self-extractor unless the loss is accepted; the stub is the
    // last line for one that was built anyway.
    CommandRun made =
        runCommand(std::string(KCAB_PATH) + " -q -r -m mszip --accept-name-loss --sfx " +
                   shellQuoted(exe) + " " + shellQuoted(scratch.path("tree")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    CommandRun run = runUnattended(exe, scratch.path("unpacked"));
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_EQ(readTree(scratch.path("unpacked")),
              (std::map<std::string, std::string>{{"html/Index.html", "the upper-case one\n"},
                                                  {"other.txt", "other\n"}}));
}

TEST_F(WineTest, TheDosStubTellsWhereTheCabinetStartsAndAnyCabinetToolFindsIt) {
    CommandRun dosbox = runCommand("command -v dosbox");
    if (dosbox.exitCode != 0) {
        GTEST_SKIP() << "dosbox is not installed";
    }
    writeAwkwardTree(scratch);
    std::string folder = scratch.folder("dos");
    std::string exe = folder + "SFX.EXE";
    std::string cabinet = scratch.path("kept.cab");
    CommandRun made = runCommand(std::string(KCAB_PATH) + " -q -r -m mszip -o " +
                                 shellQuoted(cabinet) + " --sfx " + shellQuoted(exe) +
                                 " --sfx-dos " + shellQuoted(scratch.path("tree")));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    std::string stub = readFileBytes(std::string(STUB_FOLDER) + "kstub08.exe");
    ASSERT_EQ(readFileBytes(exe), stub + readFileBytes(cabinet))
        << "nothing before, between or after";

    CommandRun run =
        runCommand("SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout 120 dosbox -c " +
                   shellQuoted("mount c " + folder) + " -c c: -c 'SFX.EXE > OUT.TXT' -c exit");
    std::string said = readFileBytes(folder + "OUT.TXT");
    EXPECT_NE(said.find("needs Windows"), std::string::npos) << said << run.output;
    EXPECT_NE(said.find("byte offset " + std::to_string(stub.size()) + " of this file"),
              std::string::npos)
        << said;

    std::map<std::string, std::string> unpacked =
        extractWithCabextract(exe, scratch.path("unpacked"));
    EXPECT_EQ(differences(unpacked, readTree(scratch.path("tree"))), std::vector<std::string>{})
        << "cabextract's copy differs";
}

} // namespace

} // namespace kp::test
