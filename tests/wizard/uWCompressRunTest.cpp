// The compression run on real files: Next on the Method page, the builder's events
// shown on the Compress page, and every way a run ends.
#include "CabinetCheck.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "ScratchFolder.h"
#include "cab_format.h"
#include "platform/FaultInjection.h"
#include "platform/Files.h"
#include "platform/LastError.h"
#include "uWCompress.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <tuple>

namespace kp::test {
namespace {

// What the user reads on the Compress page each time the run lets the window paint.
struct Seen {
    std::string file;
    int percent;
    bool drops;
};

// libmspack refuses a cabinet without folders, which a run without files writes.
void ExpectEmptyCabinet(const std::string& path) {
    const std::string bytes = readFileBytes(path);
    EXPECT_EQ(bytes.substr(0, 4), "MSCF");
    EXPECT_EQ(cabinetU16(bytes, cab::cfheader::kFileCount), 0u);
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = scratch.folder("program");
        SetProgramFolderForTesting(program);
        wizard = std::make_unique<TcWizard>();
    }
    void TearDown() override {
        wizard.reset();
        SetProgramFolderForTesting("");
    }

    void List(QListWidget* list, const std::string& entry) {
        list->addItem(QString::fromStdString(entry));
    }

    // Next on the Method page; the run is over when it returns.
    void Run() {
        Step = 5;
        wizard->ShowStep();
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [this] {
            seen.push_back(
                {wizard->cFile->FileName(), wizard->p->value(), wizard->Steps->acceptDrops()});
        });
        probe.start(0);
        wizard->wnext->click();
    }

    // Runs `action` at the first compressed-block report under the name of the file
    // that ends in `file`, before the wizard's handler sees the report. The service
    // compresses a block once it is full, so the report may name a later file than
    // the one whose bytes filled it.
    void DuringFile(const std::string& file, std::function<void()> action) {
        auto handler = wizard->cab.OnMinorStatus;
        wizard->cab.OnMinorStatus = [=](tkFwCAB* cab, const std::string& name, int percent,
                                        bool& abort) mutable {
            if (action && cab->Phase() == BuildPhase::Adding && name.ends_with(file)) {
                std::exchange(action, nullptr)();
            }
            handler(cab, name, percent, abort);
        };
    }

    // Runs `action` at the progress report after the first file.
    void AfterFirstFile(std::function<void()> action) {
        auto handler = wizard->cab.OnMajorStatus;
        wizard->cab.OnMajorStatus = [=](tkFwCAB* cab, const std::string& name, int percent,
                                        bool& abort) mutable {
            if (action && cab->FilesHandled() == 1) {
                std::exchange(action, nullptr)();
            }
            handler(cab, name, percent, abort);
        };
    }

    ScratchFolder scratch;
    platform::FaultScope faults;
    RecordedMessageBoxes boxes;
    std::string program;
    std::unique_ptr<TcWizard> wizard;
    std::vector<Seen> seen;
};

TEST_F(RunTest, StoresFoldersThenFilesThenTreesUnderTheirFullPaths) {
    // Big enough that the LZX encoder hands out blocks before the flush.
    const std::string big = randomBytes(600000, 3);
    scratch.write("tree/b.txt", "tree file\n");
    scratch.write("tree/sub/big.bin", big);
    scratch.write("dir/x.txt", "folder file\n");
    scratch.write("dir/not-taken/y.txt", "below the folder\n");
    List(wizard->lTree, scratch.path("tree"));
    // As a shell completes a folder's name: no empty component in the stored names.
    List(wizard->lFolder, scratch.path("dir/"));
    List(wizard->lFiles, scratch.write("single2.txt", "2"));
    List(wizard->lFiles, scratch.write("single1.txt", "1"));
    Run();

    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(Step, 7);
    EXPECT_EQ(wizard->Steps->currentWidget()->objectName(), QStringLiteral("sfx"));
    EXPECT_TRUE(wizard->wnext->isEnabled() && wizard->wback->isEnabled() &&
                wizard->wcancel->isEnabled());
    EXPECT_EQ(SpoolCabFile, program + "kspool.cab");
    const auto stored = [&](const std::string& relative) {
        std::string name = scratch.path(relative).substr(1);
        std::replace(name.begin(), name.end(), '/', '\\');
        return name;
    };
    EXPECT_EQ(cabinetContents(SpoolCabFile), (NamedContents{
                                                 {stored("dir/x.txt"), "folder file\n"},
                                                 {stored("single2.txt"), "2"},
                                                 {stored("single1.txt"), "1"},
                                                 {stored("tree/sub/big.bin"), big},
                                                 {stored("tree/b.txt"), "tree file\n"},
                                             }));
    // The window followed the run: blocks named files of the run (the file being added
    // when a block filled up), the bar only grew.
    const std::set<std::string> sources = {
        scratch.path("dir/x.txt"), scratch.path("single2.txt"), scratch.path("single1.txt"),
        scratch.path("tree/sub/big.bin"), scratch.path("tree/b.txt")};
    std::set<std::string> shown;
    for (const Seen& s : seen) {
        if (!s.file.empty() && s.file != "Scanning...") {
            shown.insert(s.file);
        }
    }
    EXPECT_FALSE(shown.empty());
    EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](const Seen& s) { return s.drops; }));
    EXPECT_TRUE(std::includes(sources.begin(), sources.end(), shown.begin(), shown.end()));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end(),
                               [](const Seen& a, const Seen& b) { return a.percent < b.percent; }));
    EXPECT_EQ(wizard->p->value(), 100);
    EXPECT_EQ(wizard->cFile->FileName(), "");

    // Nothing of that run is carried into the next; an empty selection runs all the same.
    wizard->cTree->click();
    wizard->cFolder->click();
    wizard->cFiles->click();
    Run();
    EXPECT_EQ(Step, 7);
    ExpectEmptyCabinet(SpoolCabFile);
}

TEST_F(RunTest, MethodPageSettingsReachTheCabinet) {
    // Past 1 MB the folder is closed after the big file.
    scratch.write("tree/a.bin", randomBytes(1100000, 1));
    scratch.write("tree/b.txt", "small");
    List(wizard->lTree, scratch.path("tree"));
    struct Setting {
        bool lzx;
        int track;
        int trackFolder;
        unsigned type;
        std::int32_t folderSize;
        unsigned folders;
    };
    for (const Setting& s :
         {Setting{true, 4, 1, 0x1203, 1048576, 2}, Setting{false, 6, 2, 0x0001, 2097152, 1},
          Setting{true, 7, 12, 0x1503, INT32_MIN, 1}}) {
        SCOPED_TRACE(s.type);
        (s.lzx ? wizard->LZX : wizard->MSZIP)->setChecked(true);
        wizard->Track->setValue(s.track);
        // MSZIP greys the window out at 32K; LZX makes it usable again.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return wizard->Track->isEnabled() == s.lzx && (s.lzx || wizard->Track->value() == 1);
        }));
        wizard->TrackFolder->setValue(s.trackFolder);
        Run();
        ASSERT_EQ(Step, 7);
        EXPECT_EQ(wizard->cab.CompFactor(), s.lzx ? s.track : 1);
        EXPECT_EQ(wizard->cab.FolderSize(), s.folderSize);
        const std::string bytes = readFileBytes(SpoolCabFile);
        EXPECT_EQ(cabinetU16(bytes, cab::cfheader::kFolderCount), s.folders);
        EXPECT_EQ(cabinetU16(bytes, cab::cfheader::kSize + cab::cffolder::kCompressionType),
                  s.type);
        EXPECT_EQ(readCabinet(SpoolCabFile).size(), 2u);
    }
}

TEST_F(RunTest, EveryWayARunEndsEarlyLeavesNoCabinet) {
    scratch.write("tree/a.bin", randomBytes(100000, 1));
    scratch.write("tree/b.bin", randomBytes(100000, 2));
    const std::string gone = scratch.path("gone.txt");
    List(wizard->lTree, scratch.path("tree"));
    struct Ending {
        const char* what;
        std::function<void()> arrange;
        std::string box; // empty: the run ends quietly on the Compress page
    };
    const auto cancel = [this] { wizard->bCancel->click(); };
    const std::vector<Ending> endings = {
        {"cancel while a file is compressed, twice",
         [&] {
             DuringFile("b.bin", [&] {
                 cancel();
                 cancel();
             });
         },
         "User abort\rPlease try again."},
        {"cancel after a file", [&] { AfterFirstFile(cancel); }, ""},
        {"cancel while the page is painted, before the build",
         [&] { QTimer::singleShot(0, wizard.get(), cancel); }, "User abort\rPlease try again."},
        {"a file vanishes before it is compressed",
         [&] { AfterFirstFile([&] { std::remove(scratch.path("tree/b.bin").c_str()); }); },
         "Failure opening file to be stored in cabinet\r" + scratch.path("tree/b.bin") +
             "\rPlease try again."},
        {"a listed file is gone", [&] { List(wizard->lFiles, gone); },
         gone + ": no such file\rPlease try again."},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        scratch.write("tree/b.bin", randomBytes(100000, 2));
        wizard->lFiles->clear();
        const std::size_t before = boxes.Boxes().size();
        const auto handlers = std::tuple(wizard->cab.OnMajorStatus, wizard->cab.OnMinorStatus);
        ending.arrange();
        Run();
        std::tie(wizard->cab.OnMajorStatus, wizard->cab.OnMinorStatus) = handlers;
        platform::clearFaults();

        EXPECT_TRUE(CancelRequested);
        EXPECT_FALSE(platform::fileExists(SpoolCabFile));
        EXPECT_TRUE(wizard->wnext->isEnabled() && wizard->wback->isEnabled() &&
                    wizard->wcancel->isEnabled());
        if (ending.box.empty()) {
            EXPECT_EQ(boxes.Boxes().size(), before);
            EXPECT_EQ(Step, 6);
            EXPECT_EQ(wizard->bCancel->text(), QStringLiteral("Cancelling..."));
            wizard->wback->click();
        } else {
            ASSERT_EQ(boxes.Boxes().size(), before + 1);
            EXPECT_EQ(boxes.Boxes().back().text, ending.box);
            EXPECT_EQ(boxes.Boxes().back().title, "Compression Complications");
            EXPECT_EQ(boxes.Boxes().back().icon, MessageIcon::Error);
            EXPECT_EQ(boxes.Boxes().back().buttons, MessageButtons::OK);
        }
        EXPECT_EQ(Step, 5);
        EXPECT_EQ(wizard->bCancel->text(), QStringLiteral("&Cancel !"));
    }

    // A "kspool.cab" that cannot be deleted is left as it was.
    wizard->lFiles->clear();
    scratch.write("program/kspool.cab", "an older cabinet");
    platform::injectFault(
        {platform::FileOperation::Delete, "kspool.cab", platform::kErrorAccessDenied});
    Run();
    ASSERT_FALSE(boxes.Boxes().empty());
    EXPECT_EQ(boxes.Boxes().back().text, "Cabinet already exists\rPlease try again.");
    EXPECT_EQ(Step, 5);
    EXPECT_EQ(readFileBytes(SpoolCabFile), "an older cabinet");
}

// A cabinet that fails while it is written out is not left under its name, where it
// would look like the result of the run.
TEST_F(RunTest, ACabinetThatCannotBeWrittenIsNotLeftBehind) {
    scratch.write("tree/a.bin", randomBytes(100000, 1));
    List(wizard->lTree, scratch.path("tree"));
    platform::injectFault({platform::FileOperation::Write, program, platform::kErrorDiskFull, 1});
    Run();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "Could not create cabinet file\rPlease try again.");
    EXPECT_EQ(Step, 5);
    EXPECT_FALSE(platform::fileExists(SpoolCabFile));
}

// The title bar's close button during a run: the run stops, without a box, and then
// the window closes.
TEST_F(RunTest, ClosingTheWindowCancelsTheRunAndThenCloses) {
    scratch.write("tree/a.bin", randomBytes(100000, 1));
    scratch.write("tree/b.bin", randomBytes(100000, 2));
    for (bool duringFile : {true, false}) {
        List(wizard->lTree, scratch.path("tree"));
        wizard->show();
        const auto close = [this] { EXPECT_FALSE(wizard->close()); };
        duringFile ? DuringFile("b.bin", close) : AfterFirstFile(close);
        Run();
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_FALSE(wizard->isVisible());
        EXPECT_FALSE(platform::fileExists(SpoolCabFile));
        wizard = std::make_unique<TcWizard>();
    }
}

// Installed read-only, the program leaves "kspool.cab" in a folder of the user's own.
TEST_F(RunTest, WithoutWritingBesideTheProgramTheCabinetGoesToTheUsersCache) {
    const QByteArray previous = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(scratch.path("cache")));
    platform::injectFault(
        {platform::FileOperation::TempName, program, platform::kErrorAccessDenied});
    Run();
    qputenv("XDG_CACHE_HOME", previous);
    EXPECT_EQ(Step, 7);
    EXPECT_EQ(SpoolCabFile, scratch.path("cache/kpellix/kspool.cab"));
    ExpectEmptyCabinet(SpoolCabFile);
    struct stat status {};
    ASSERT_EQ(::stat(scratch.path("cache/kpellix").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

// The wizard's output is unpacked on Windows: names that would not come back whole are
// named before anything is compressed; Yes goes back to the lists, No goes on.
TEST_F(RunTest, NamesWindowsWouldNotGiveBackAreShownBeforeCompressing) {
    const std::string first = scratch.write("tree/Index.html", "index");
    const std::string second = scratch.write("tree/index.html", "lower");
    scratch.write("tree/notes.txt.", "dot");
    List(wizard->lTree, scratch.path("tree"));

    boxes.QueueAnswer(MessageResult::Yes);
    Run();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    const MessageBoxRequest& box = boxes.Boxes()[0];
    EXPECT_EQ(box.title, "Names on Windows");
    EXPECT_EQ(box.buttons, MessageButtons::YesNo);
    EXPECT_NE(box.text.find("2 files would not come back whole"), std::string::npos) << box.text;
    ASSERT_EQ(box.details.size(), 2u);
    EXPECT_NE(box.details[1].find(second + ": Windows takes it for " + first), std::string::npos)
        << box.details[1];
    EXPECT_EQ(wizard->Steps->currentWidget()->objectName(), QStringLiteral("Tree"));
    EXPECT_FALSE(platform::fileExists(SpoolCabFile));
    EXPECT_TRUE(wizard->wnext->isEnabled() && wizard->wback->isEnabled());

    boxes.QueueAnswer(MessageResult::No);
    Run();
    EXPECT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(Step, 7);
    EXPECT_EQ(cabinetContents(SpoolCabFile).size(), 3u);
}

// The wizard and kcab drive one builder; with the same settings they must do the same
// work, which shows in the bytes. SOURCE_DATE_EPOCH makes the set identifier follow
// from the entries, so the two cabinets can be compared whole.
TEST_F(RunTest, WritesTheBytesKcabWritesWithTheSameSettings) {
    std::string text;
    for (int line = 0; line < 20000; ++line) {
        text += "line " + std::to_string(line * 7 % 1000) + " of a file that packs well\n";
    }
    scratch.write("tree/text.txt", text);
    scratch.write("tree/sub/random.bin", randomBytes(1100000, 28));
    scratch.write("tree/sub/deeper/empty", "");
    scratch.write("tree/small", "small");
    const std::string tree = scratch.path("tree");
    List(wizard->lTree, tree);
    struct FixedEpoch {
        FixedEpoch() { ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1); }
        ~FixedEpoch() { ::unsetenv("SOURCE_DATE_EPOCH"); }
    } epoch;
    struct Setting {
        bool lzx;
        int track;
        int trackFolder;
        const char* kcabArguments;
    };
    for (const Setting& s : {Setting{true, 4, 2, "-m lzx:18 --folder-size 2097152"},
                             Setting{true, 7, 1, "-m lzx:21 --folder-size 1048576"},
                             Setting{false, 1, 1, "-m mszip --folder-size 1048576"}}) {
        SCOPED_TRACE(s.kcabArguments);
        (s.lzx ? wizard->LZX : wizard->MSZIP)->setChecked(true);
        wizard->Track->setValue(s.track);
        wizard->TrackFolder->setValue(s.trackFolder);
        Run();
        ASSERT_EQ(Step, 7);
        const std::string kcabOut = scratch.path("kcab.cab");
        const std::string command = std::string(KCAB_PATH) + " -q -f -r --paths full " +
                                    s.kcabArguments + " -o '" + kcabOut + "' '" + tree + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string wizardBytes = readFileBytes(SpoolCabFile);
        EXPECT_EQ(cabinetContents(SpoolCabFile).size(), 4u);
        EXPECT_TRUE(wizardBytes == readFileBytes(kcabOut))
            << "the wizard wrote " << wizardBytes.size() << " bytes, kcab "
            << readFileBytes(kcabOut).size();
    }
}

} // namespace
} // namespace kp::test
