// A self-extractor made by the wizard, run as a Windows user would run it unattended:
// what it unpacks must be the selection, byte for byte.
#include "SfxTestWizard.h"
#include "WineTest.h"

namespace kp::test {
namespace {

TEST_F(WineTest, TheWizardsSelfExtractorUnpacksTheSelection) {
    if (!StubsBuilt()) {
        GTEST_SKIP() << "the stubs are not built (no cross compiler or nasm)";
    }
    const std::string tree = scratch.folder("selection");
    scratch.write("selection/readme.txt", "read me\r\n");
    scratch.write("selection/empty.txt", "");
    scratch.write("selection/Gr\xC3\xBC\xC3\x9F"
                  "e \xE2\x82\xAC/notes.txt",
                  "non-ASCII folder\n");
    scratch.write("selection/a/b/random.bin", randomBytes(400000, 17));
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
        text += "line " + std::to_string(i) + " of a compressible text\n";
    }
    scratch.write("selection/a/text.txt", text);

    SfxTestWizard sfx(scratch.folder("program"));
    sfx.wizard->cab.setCompType(ctLzx);
    sfx.wizard->cab.setCompFactor(7); // the widest window, 2 MB
    sfx.FinishRun({tree});
    sfx.Choose(scratch.path("setup"));
    sfx.Build();
    ASSERT_EQ(Step, 8) << (sfx.boxes.Boxes().empty() ? "" : sfx.boxes.Boxes()[0].text);

    const std::string destination = scratch.path("unpacked");
    CommandRun run = runUnattended(scratch.path("setup.EXE"), destination);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    // Stored names are the files' full paths without the root.
    EXPECT_EQ(readTree(destination + tree), readTree(tree));
}

} // namespace
} // namespace kp::test
