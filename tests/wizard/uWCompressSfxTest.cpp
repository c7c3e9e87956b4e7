// The sfx and Cool pages on real files: the self-extractor the wizard builds from
// "kspool.cab" and the stubs, both ways of building it, and every way it can fail.
#include "ScratchFolder.h"
#include "SfxTestWizard.h"
#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace kp::test {
namespace {

constexpr char kDosBoxText[] =
    "Your version of Windows does not support resource updating, which is required by "
    "Pellix.\rA DOS based self extracting cabinet will be created instead of a Windows based "
    "self extracting cabinet.";

class SfxPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!StubsBuilt()) {
            GTEST_SKIP() << "the stubs are not built (no cross compiler or nasm)";
        }
        tree = scratch.folder("tree");
        scratch.write("tree/readme.txt", "read me\r\n");
        scratch.write("tree/sub/random.bin", randomBytes(150000, 5));
        out = scratch.folder("out");
        sfx = std::make_unique<SfxTestWizard>(scratch.folder("program"));
    }

    TcWizard& wizard() { return *sfx->wizard; }

    void ExpectCoolPage() {
        EXPECT_EQ(Step, 8);
        EXPECT_EQ(wizard().Steps->currentWidget()->objectName(), QStringLiteral("Cool"));
        EXPECT_EQ(wizard().StatusText->text(), QStringLiteral("Cab Complete !"));
        EXPECT_FALSE(wizard().wnext->isEnabled());
        EXPECT_TRUE(wizard().wback->isEnabled());
        EXPECT_TRUE(wizard().wcancel->isEnabled());
        EXPECT_FALSE(platform::fileExists(SpoolCabFile)) << "kspool.cab is left";
    }

    ScratchFolder scratch;
    platform::FaultScope faults;
    std::string tree;
    std::string out;
    std::unique_ptr<SfxTestWizard> sfx;
};

// What the page shows each time the build lets the window handle its messages.
struct Moment {
    bool reading;
    bool writing;
    bool buttons;
    bool operator==(const Moment&) const = default;
};

TEST_F(SfxPagesTest, TheTargetIsTheStubWithTheCabinetAndTheDescriptionInWindows1252) {
    struct Description {
        QString typed;
        std::string prompt;
    };
    const std::vector<Description> descriptions = {
        {QString(), "Remove files from cabinet?"},
        {QStringLiteral("Unpack the demo?"), "Unpack the demo?"},
        {QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"
                           "e \xE2\x82\xAC \xE6\x97\xA5?"),
         "Gr\xFC\xDF"
         "e \x80 ??"},
    };
    scratch.write("out/setup.EXE", "an older file of that name");
    const std::size_t stubResources = ResourcesOf(BuiltStubFolder() + "kstub16.exe").size();
    for (const Description& description : descriptions) {
        SCOPED_TRACE(description.prompt);
        if (!description.typed.isEmpty()) {
            wizard().cDescribe->setText(description.typed);
        }
        const std::string cabinet = sfx->FinishRun({tree});
        ASSERT_FALSE(cabinet.empty());
        EXPECT_EQ(sfx->Target(), "") << "a new run leaves the last build's target chosen";
        sfx->Choose(out + "setup");
        ASSERT_EQ(sfx->Target(), out + "setup.EXE");

        std::vector<Moment> moments;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            moments.push_back({!wizard().moment1->isHidden(), !wizard().moment2->isHidden(),
                               wizard().wnext->isEnabled() || wizard().wback->isEnabled() ||
                                   wizard().wcancel->isEnabled() || wizard().BitBtn1->isEnabled()});
        });
        probe.start(0);
        sfx->Build();
        probe.stop();

        EXPECT_TRUE(sfx->boxes.Boxes().empty());
        ExpectCoolPage();
        EXPECT_TRUE(wizard().moment1->isHidden());
        EXPECT_TRUE(wizard().moment2->isHidden());
        ASSERT_FALSE(moments.empty());
        EXPECT_EQ(moments.front(), (Moment{true, false, false}));
        EXPECT_EQ(moments.back(), (Moment{true, true, false}));

        EXPECT_EQ(RawResource(sfx->Target(), u"CABINET"), cabinet);
        EXPECT_EQ(RawResource(sfx->Target(), u"UPROMPT"), description.prompt + '\0');
        EXPECT_EQ(ResourcesOf(sfx->Target()).size(), stubResources + 2)
            << "the stub's own resources stay";
        // An empty description is filled in, and stays so for later builds.
        EXPECT_EQ(wizard().cDescribe->text().toStdString(), description.typed.isEmpty()
                                                                ? "Remove files from cabinet?"
                                                                : description.typed.toStdString());
    }
}

TEST_F(SfxPagesTest, WithoutResourceUpdateTheTargetIsTheDosStubFollowedByTheCabinet) {
    platform::setResourceUpdateAvailable(false);
    const std::string cabinet = sfx->FinishRun({tree});
    scratch.write("out/dos.exe", "an older file of that name");
    sfx->Choose(out + "dos.exe");
    sfx->Build();
    ASSERT_EQ(sfx->boxes.Boxes().size(), 1u);
    EXPECT_EQ(sfx->boxes.Boxes()[0].text, kDosBoxText);
    EXPECT_EQ(sfx->boxes.Boxes()[0].title, "Non-NT Windows Version");
    EXPECT_EQ(sfx->boxes.Boxes()[0].icon, MessageIcon::Information);
    EXPECT_EQ(sfx->boxes.Boxes()[0].buttons, MessageButtons::OK);
    ExpectCoolPage();
    EXPECT_EQ(readFileBytes(out + "dos.exe"),
              readFileBytes(BuiltStubFolder() + "kstub08.exe") + cabinet);
}

// Every failed build stops at its step, reports that step's code, and leaves no file
// that looks like a self-extractor of this build: a file it never wrote keeps its
// bytes, one it began to write is removed. The lists and "kspool.cab" stay.
TEST_F(SfxPagesTest, AFailedBuildReportsItsCodeAndLeavesNoSelfExtractorBehind) {
    struct Failure {
        const char* what;
        std::function<void()> arrange;
        std::uint32_t code;
        bool targetUntouched;
    };
    const std::string program = scratch.path("program/");
    const std::vector<Failure> failures = {
        {"kstub16.exe is missing", [&] { std::filesystem::remove(program + "kstub16.exe"); },
         platform::kErrorFileNotFound, true},
        {"kspool.cab is missing after a quietly cancelled run",
         [&] { std::filesystem::remove(SpoolCabFile); }, platform::kErrorFileNotFound, true},
        {"the target cannot be read back for the resource update",
         [&] {
             platform::injectFault({platform::FileOperation::Open, "out/setup.exe",
                                    platform::kErrorSharingViolation});
         },
         platform::kErrorSharingViolation, false},
        {"the disk fills while the resources are written",
         [&] {
             // The first write beside the target is the stub's copy; the second, the
             // image with its new resources.
             platform::injectFault(
                 {platform::FileOperation::Write, "out/.kp-", platform::kErrorDiskFull, 1});
         },
         platform::kErrorDiskFull, false},
        {"kstub08.exe is missing in the DOS-based way",
         [&] {
             platform::setResourceUpdateAvailable(false);
             std::filesystem::remove(program + "kstub08.exe");
         },
         platform::kErrorFileNotFound, false},
    };
    wizard().lTree->addItem(QString::fromStdString(tree));
    wizard().lFiles->addItem(QString::fromStdString(tree + "readme.txt"));
    // A self-extractor already at the target: a build that reads its old bytes as
    // the new ones' would report success.
    const std::string older = readFileBytes(BuiltStubFolder() + "kstub16.exe");
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        for (const char* stub : {"kstub16.exe", "kstub08.exe"}) {
            platform::copyFile(BuiltStubFolder() + stub, program + stub, false);
        }
        sfx->FinishRun({tree});
        scratch.write("out/setup.exe", older);
        sfx->Choose(out + "setup.exe");
        const bool cabinetThere = (failure.arrange(), platform::fileExists(SpoolCabFile));
        sfx->Build();
        platform::clearFaults();
        platform::setResourceUpdateAvailable(true);

        ASSERT_FALSE(sfx->boxes.Boxes().empty());
        const MessageBoxRequest& box = sfx->boxes.Boxes().back();
        EXPECT_EQ(box.text, "Error Code: " + std::to_string(failure.code) + "\rPlease try again!");
        EXPECT_EQ(box.title, "Self Extract Complications");
        EXPECT_EQ(box.icon, MessageIcon::Error);
        EXPECT_EQ(Step, 1);
        EXPECT_EQ(wizard().Steps->currentWidget()->objectName(), QStringLiteral("Welcome"));
        EXPECT_TRUE(wizard().wnext->isEnabled());
        EXPECT_TRUE(wizard().wcancel->isEnabled());
        EXPECT_EQ(platform::fileExists(SpoolCabFile), cabinetThere);
        if (failure.targetUntouched) {
            EXPECT_EQ(readFileBytes(out + "setup.exe"), older);
        } else {
            EXPECT_FALSE(platform::fileExists(out + "setup.exe"));
        }
        EXPECT_EQ(wizard().lTree->count(), 1);
        EXPECT_EQ(wizard().lFiles->count(), 1);
    }
}

TEST_F(SfxPagesTest, TheSaveDialogAddsTheExtensionAndWantsAnExistingFolder) {
    Step = 7;
    wizard().ShowStep();
    sfx->Choose(out + "Setup.bin");
    ASSERT_EQ(sfx->dialogs.size(), 1u);
    const TSaveDialog& dialog = *sfx->dialogs[0];
    EXPECT_EQ(dialog.Title(), "Choose a Name for Self Extracting File:");
    EXPECT_EQ(dialog.Filter(),
              (std::vector<std::string>{"Executable Files (*.EXE *.exe)", "All Files (*)"}));
    EXPECT_EQ(sfx->Target(), out + "Setup.bin") << "a name with an extension keeps it";

    // A folder that does not exist is refused, and the dialog asks again.
    sfx->answers.push_back(out + "missing/setup");
    sfx->Choose(out + "my setup");
    EXPECT_EQ(sfx->Target(), out + "my setup.EXE");
    ASSERT_EQ(sfx->boxes.Boxes().size(), 1u);
    EXPECT_NE(sfx->boxes.Boxes()[0].text.find(out + "missing/setup.EXE"), std::string::npos);

    // Cancelling changes nothing.
    wizard().BitBtn1->click();
    EXPECT_EQ(sfx->Target(), out + "my setup.EXE");
    EXPECT_FALSE(platform::fileExists(out + "my setup.EXE")) << "choosing writes nothing";
}

TEST_F(SfxPagesTest, ClosingTheWindowDuringTheBuildWaitsForItsEnd) {
    wizard().show();
    const std::string cabinet = sfx->FinishRun({tree});
    sfx->Choose(out + "setup.exe");
    bool closedAtOnce = true;
    QTimer::singleShot(0, [&] { closedAtOnce = wizard().close(); });
    sfx->Build();
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(RawResource(out + "setup.exe", u"CABINET"), cabinet);
    ExpectCoolPage();
    EXPECT_FALSE(wizard().isVisible()) << "closed once the build was over";
}

TEST_F(SfxPagesTest, TestSelfExtractNowStartsTheNewFile) {
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const std::string marker = scratch.path("started");
    const std::string wine =
        scratch.write("bin/wine", "#!/bin/sh\necho \"$@\" > '" + marker + "'\n");
    ::chmod(wine.c_str(), 0755);
    ::setenv("PATH", scratch.path("bin").c_str(), 1);
    sfx->FinishRun({tree});
    scratch.folder("out/with space");
    sfx->Choose(out + "with space/setup");
    sfx->Build();
    ASSERT_EQ(Step, 8);
    EXPECT_EQ(wizard().Button3->text(), QStringLiteral("Test Self &Extract Now..."));
    wizard().Button3->click();
    for (int i = 0; i < 100 && readFileBytes(marker).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(readFileBytes(marker), out + "with space/setup.EXE\n");
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::overrideCursor() == nullptr; }))
        << "the busy pointer goes once the program has ended";
    EXPECT_TRUE(sfx->boxes.Boxes().empty()) << "an ordinary end is the user's to see";

    // Wine failing before the program shows anything, and no Wine at all, are explained.
    scratch.write("bin/wine", "#!/bin/sh\nexit 66\n");
    wizard().Button3->click();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !sfx->boxes.Boxes().empty(); }));
    ::setenv("PATH", scratch.path("nothing").c_str(), 1);
    wizard().Button3->click();
    ::setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(sfx->boxes.Boxes().size(), 2u);
    for (const MessageBoxRequest& box : sfx->boxes.Boxes()) {
        EXPECT_EQ(box.title, "Test Self Extract");
    }
    EXPECT_NE(sfx->boxes.Boxes()[0].text.find("(exit code 66)"), std::string::npos);
    EXPECT_NE(sfx->boxes.Boxes()[1].text.find("could not be started"), std::string::npos);
    EXPECT_NE(sfx->boxes.Boxes()[1].text.find("Wine"), std::string::npos);
}

// From the lists to the Cool page with nothing but the wizard's own controls.
TEST_F(SfxPagesTest, AWalkFromTheSelectionToTheCoolPage) {
    wizard().lTree->addItem(QString::fromStdString(tree));
    wizard().lFiles->addItem(QString::fromStdString(scratch.write("single.txt", "one file\n")));
    wizard().cDescribe->setText(QStringLiteral("Unpack the walk?"));
    for (int page = 1; page < 5; ++page) {
        wizard().wnext->click();
    }
    ASSERT_EQ(Step, 5);
    wizard().wnext->click(); // the run
    ASSERT_EQ(Step, 7) << "the run did not reach the sfx page";
    EXPECT_TRUE(sfx->boxes.Boxes().empty());
    const std::string cabinet = readFileBytes(SpoolCabFile);
    ASSERT_FALSE(cabinet.empty());
    EXPECT_EQ(sfx->Target(), "");
    sfx->Choose(out + "walk");
    sfx->Build();
    ExpectCoolPage();
    EXPECT_EQ(RawResource(out + "walk.EXE", u"CABINET"), cabinet);
    EXPECT_EQ(RawResource(out + "walk.EXE", u"UPROMPT"), std::string("Unpack the walk?") + '\0');

    // Back starts over with the lists as they were; a new run clears the target.
    wizard().wback->click();
    EXPECT_EQ(Step, 1);
    EXPECT_EQ(wizard().lTree->count(), 1);
    EXPECT_EQ(wizard().lFiles->count(), 1);
    for (int page = 1; page < 6; ++page) {
        wizard().wnext->click();
    }
    ASSERT_EQ(Step, 7);
    EXPECT_EQ(sfx->Target(), "");
}

} // namespace
} // namespace kp::test
