// The builder's event sequences: what fires, in which order, and what the answers do.
#include "BuilderFixture.h"
#include "cab_format.h"
#include "platform/LastError.h"

#include <stdexcept>

using namespace kp::platform;

namespace kp::test {

namespace {

const std::string kExists = "error 804 0 Cabinet already exists [-1]";
const std::string kUserAbortPreset = "error 801 0 User abort [-1]";

class kFwCABEventsTest : public BuilderFixture {};

TEST(kFwCABTest, ConstructionSetsDefaultsAndTakesOverCurrentCab) {
    tkFwCAB cab;
    EXPECT_EQ(CurrentCab, &cab);
    EXPECT_EQ(cab.CabFile(), "");
    EXPECT_EQ(cab.DiskName(), "");
    EXPECT_EQ(cab.FolderSize(), 831415);
    EXPECT_EQ(cab.DiskSize(), 2147483647);
    EXPECT_EQ(cab.Reserved(), 0);
    EXPECT_EQ(cab.CompType(), ctMsZip);
    EXPECT_EQ(cab.CompFactor(), 3);
    EXPECT_TRUE(cab.AddFiles().empty());
    EXPECT_TRUE(cab.RecurseFiles().empty());
    EXPECT_FALSE(cab.StorePath());
    EXPECT_FALSE(cab.PartialPath());
    EXPECT_FALSE(cab.OnMajorStatus || cab.OnMinorStatus || cab.OnMessageNotify ||
                 cab.OnErrorNotify);
    {
        tkFwCAB second;
        EXPECT_EQ(CurrentCab, &second);
    }
    EXPECT_EQ(CurrentCab, nullptr) << "a destroyed builder must not stay reachable";
}

TEST(kFwCABTest, CompressionFactorSelectsAClampedLzxWindow) {
    EXPECT_EQ(tkFwCAB::LzxWindowFor(-5), 15);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(0), 15);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(1), 15);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(3), 17);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(7), 21);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(9), 21);
    EXPECT_EQ(tkFwCAB::LzxWindowFor(2147483647), 21);
}

TEST_F(kFwCABEventsTest, EmptyListsReportStartAndEndAndStillFlush) {
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events,
              (Events{"major 0", "minor 'Scanning...' 0", "major 100", "minor '' 100"}));
    ASSERT_TRUE(cabinetWritten());
    std::string bytes = readFileBytes(cabPath);
    EXPECT_EQ(bytes.substr(cab::cfheader::kSignature, 4), "MSCF");
    EXPECT_EQ(cabinetU16(bytes, cab::cfheader::kFileCount), 0u) << "no files";
    for (tkFwCAB* sender : recorder.senders) {
        EXPECT_EQ(sender, &cab);
    }
}

TEST_F(kFwCABEventsTest, FilesAreCountedAndReportedAsAPercentage) {
    for (const char* name : {"a", "b", "c"}) {
        scratch.write(std::string("in/") + name, name);
    }
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33", "major 66",
                                       "major 100", "major 100", "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}, {"b", "b"}, {"c", "c"}}));
    EXPECT_EQ(cab.FilesFound(), 3);
    EXPECT_EQ(cab.FilesHandled(), 3);
}

// Handlers tell the run's own reports from a compressed file's by the phase, not by
// the reports' texts.
TEST_F(kFwCABEventsTest, HandlersSeeThePhaseOfTheRun) {
    scratch.write("in/a", randomBytes(40000, 1)); // one whole block while it is added
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    injectFault({FileOperation::Open, "out.cab", kErrorAccessDenied, 0, 1});
    cab.BuildCabinet();
    using enum BuildPhase;
    EXPECT_EQ(recorder.events,
              (Events{"major 0", "minor 'Scanning...' 0", "progress a", "major 100", "major 100",
                      "minor '' 100", "error 802 5 Could not create cabinet file [-1]"}));
    EXPECT_EQ(recorder.phases, (std::vector<BuildPhase>{Starting, Starting, Adding, Adding,
                                                        Finishing, Finishing, Flushing}));
    EXPECT_EQ(cab.Phase(), Idle);
}

TEST_F(kFwCABEventsTest, ExistingCabinetAnsweredMinusOneEndsTheRunUntouched) {
    scratch.write("out.cab", "precious");
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    recorder.onError = [](int, int& action) { action = kActionAbort; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, Events{kExists});
    EXPECT_EQ(readFileBytes(cabPath), "precious");

    recorder.events.clear();
    cab.OnErrorNotify = nullptr;
    cab.BuildCabinet();
    EXPECT_TRUE(recorder.events.empty()) << "without a handler the run ends silently";
    EXPECT_EQ(readFileBytes(cabPath), "precious");
}

TEST_F(kFwCABEventsTest, ExistingCabinetIsTestedAgainUntilTheHandlerRemovesIt) {
    scratch.write("out.cab", "old");
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    int asked = 0;
    recorder.onError = [&](int, int& action) {
        if (++asked == 2) {
            std::filesystem::remove(cabPath);
        }
        action = kActionSkip;
    };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{kExists, kExists, "major 0", "minor 'Scanning...' 0",
                                       "major 100", "major 100", "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}}));
}

TEST_F(kFwCABEventsTest, FolderNamedLikeTheCabinetIsNoExistingCabinet) {
    scratch.folder("out.cab");
    cab.BuildCabinet();
    ASSERT_FALSE(recorder.events.empty());
    EXPECT_NE(recorder.events.front(), kExists);
}

TEST_F(kFwCABEventsTest, FailedCreationIsRetriedOnRequest) {
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    injectFault({FileOperation::Open, "kFw", kErrorDiskFull, 0, 1});
    recorder.onError = [](int errId, int& action) { action = errId == 803 ? 1 : -1; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events,
              (Events{"error 803 112 Could not create a temporary file [-1]", "major 0",
                      "minor 'Scanning...' 0", "major 100", "major 100", "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}}));
}

TEST_F(kFwCABEventsTest, FailedCreationAnsweredMinusOneOrUnhandledEndsTheRun) {
    injectFault({FileOperation::Open, "kFw", kErrorDiskFull, 0, 2});
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, Events{"error 803 112 Could not create a temporary file [-1]"});
    cab.OnErrorNotify = nullptr;
    recorder.events.clear();
    cab.BuildCabinet();
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, AbortFromTheFirstMajorStatusDestroysTheContext) {
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    recorder.onMajor = [](const std::string&, int, bool& abort) { abort = true; };
    recorder.onError = [](int, int& action) { action = kActionRetry; }; // not read
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", kUserAbortPreset}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, AbortFromTheScanningNotice) {
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    recorder.onMinor = [](const std::string& file, int, bool& abort) {
        abort = file == "Scanning...";
    };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", kUserAbortPreset}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, AbortDuringAFileIsReportedAsUserAbortWhateverTheAnswer) {
    scratch.write("in/big.bin", randomBytes(40000, 1));
    scratch.write("in/later.txt", "later");
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    recorder.onMinor = [](const std::string& file, int, bool& abort) {
        abort = file.find("big.bin") != std::string::npos;
    };
    recorder.onError = [](int, int& action) { action = kActionRetry; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "progress big.bin",
                                       "error 801 0 User abort [0]"}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, AbortBetweenFilesFiresNoErrorAndSkipsTheFlush) {
    for (const char* name : {"a", "b", "c"}) {
        scratch.write(std::string("in/") + name, name);
    }
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    recorder.onMajor = [](const std::string&, int percent, bool& abort) { abort = percent == 33; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33"}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, AbortFromTheFinalReportsSkipsTheFlush) {
    scratch.write("in/a", "a");
    scratch.write("in/b", "b");
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    int majors = 0;
    recorder.onMajor = [&](const std::string&, int, bool& abort) { abort = ++majors == 4; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events,
              (Events{"major 0", "minor 'Scanning...' 0", "major 50", "major 100", "major 100"}));
    EXPECT_FALSE(cabinetWritten());

    recorder.events.clear();
    recorder.onMajor = nullptr;
    recorder.onMinor = [](const std::string& file, int percent, bool& abort) {
        abort = file.empty() && percent == 100;
    };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events.back(), "minor '' 100");
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, ExceptionFromAHandlerInsideTheServiceFailsTheFileWithNoError) {
    scratch.write("in/big.bin", randomBytes(40000, 2));
    cab.AddFiles() = {scratch.path("in/big.bin")};
    recorder.onMinor = [](const std::string& file, int, bool&) {
        if (!file.empty() && file != "Scanning...") {
            throw std::runtime_error("handler failed");
        }
    };
    recorder.onError = [](int, int& action) { action = kActionAbort; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "progress big.bin",
                                       "error 802 0 No error [0]"}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABEventsTest, ExceptionFromADirectHandlerLeavesTheRunAndItsContextBehind) {
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    recorder.onMajor = [](const std::string&, int percent, bool&) {
        if (percent == 100) {
            throw std::runtime_error("handler failed");
        }
    };
    EXPECT_THROW(cab.BuildCabinet(), std::runtime_error);
    EXPECT_TRUE(leftoverTempFiles(tempFolder).empty());

    recorder.onMajor = nullptr;
    recorder.events.clear();
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events.back(), "minor '' 100") << "the next run starts afresh";
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}}));
}

TEST_F(kFwCABEventsTest, BuildCabinetCalledFromItsOwnHandlerReturnsAtOnce) {
    scratch.write("in/a", "a");
    cab.AddFiles() = {scratch.path("in/a")};
    int nested = 0;
    recorder.onMajor = [&](const std::string&, int percent, bool&) {
        if (percent == 0 && nested++ == 0) {
            cab.BuildCabinet();
        }
    };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 100", "major 100",
                                       "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}}));
}

TEST_F(kFwCABEventsTest, FilesAppearingAfterTheCountPushThePercentPast100) {
    scratch.write("one/a", "a");
    scratch.folder("two");
    cab.AddFiles() = {scratch.path("one/") + "*.*", scratch.path("two/") + "*.*"};
    recorder.onMajor = [&](const std::string&, int percent, bool&) {
        if (percent == 100 && !std::filesystem::exists(scratch.path("two/late"))) {
            scratch.write("two/late", "late");
        }
    };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 100", "major 200",
                                       "major 100", "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", "a"}, {"late", "late"}}));
}

TEST_F(kFwCABEventsTest, ProgressReachesTheNewestBuilderAndNoneOnceItIsGone) {
    scratch.write("in/big.bin", randomBytes(40000, 3));
    cab.AddFiles() = {scratch.path("in/big.bin")};
    std::vector<std::string> secondEvents;
    {
        tkFwCAB second;
        EventRecorder secondRecorder(second);
        cab.BuildCabinet();
        secondEvents = secondRecorder.events;
        ASSERT_FALSE(secondRecorder.senders.empty());
        EXPECT_EQ(secondRecorder.senders.front(), &second);
    }
    EXPECT_EQ(secondEvents, Events{"progress big.bin"});
    EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), "progress big.bin"), 0);

    std::filesystem::remove(cabPath);
    recorder.events.clear();
    cab.BuildCabinet(); // CurrentCab is null now: progress goes nowhere, and nothing breaks
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 100", "major 100",
                                       "minor '' 100"}));
    EXPECT_EQ(readCabinet(cabPath).at(0).data, randomBytes(40000, 3));
}

} // namespace

namespace {

// Without stored paths, a/x.txt and b/X.TXT share a name on Windows; the same file
// reached again, by its own path or through a hard link, loses nothing.
TEST_F(kFwCABEventsTest, AnotherFileUnderAStoredNameAlreadyUsedIsReported) {
    std::string first = scratch.write("in/a/x.txt", "first");
    std::string second = scratch.write("in/b/X.TXT", "second");
    scratch.write("in/c/y.txt", "y");
    scratch.folder("in/d");
    std::filesystem::create_hard_link(scratch.path("in/c/y.txt"), scratch.path("in/d/y.txt"));
    cab.RecurseFiles() = {scratch.path("in/*.*")};
    cab.AddFiles() = {first};
    std::vector<std::string> clashes;
    cab.OnNameClash = [&](tkFwCAB*, const std::string& file, const std::string& stored,
                          const std::string& earlier) {
        clashes.push_back(file + " as " + stored + " after " + earlier);
    };
    cab.BuildCabinet();
    ASSERT_TRUE(cabinetWritten());
    ASSERT_EQ(clashes.size(), 1u) << ::testing::PrintToString(clashes);
    EXPECT_EQ(clashes[0], second + " as X.TXT after " + first);
}

TEST_F(kFwCABEventsTest, SettingsReachTheCabinetHeader) {
    for (const char* name : {"a", "b", "c"}) {
        scratch.write(std::string("in/") + name, randomBytes(40000, name[0]));
    }
    cab.AddFiles() = {scratch.path("in/") + "*.*"};
    cab.setReserved(20);
    cab.setFolderSize(1); // every file closes its folder
    cab.BuildCabinet();
    using namespace cab;
    std::string header = readFileBytes(cabPath);
    EXPECT_EQ(cabinetU16(header, cfheader::kFolderCount), 3u);
    EXPECT_EQ(cabinetU16(header, cfheader::kFlags) & kFlagReservePresent, kFlagReservePresent);
    EXPECT_EQ(cabinetU16(header, cfheader::kSize + cfreserve::kHeaderReserve), 20u);
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", randomBytes(40000, 'a')},
                                                       {"b", randomBytes(40000, 'b')},
                                                       {"c", randomBytes(40000, 'c')}}));
}

} // namespace

} // namespace kp::test
