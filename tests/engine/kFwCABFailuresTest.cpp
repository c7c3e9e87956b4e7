// A file that cannot be added and a flush that fails: the answers skip, retry or abort.
#include "BuilderFixture.h"
#include "engine/FolderWalk.h"
#include "platform/LastError.h"

#include <algorithm>
#include <filesystem>

using namespace kp::platform;

namespace kp::test {

namespace {

const std::string kReadError = "error 802 30 Failure reading file to be stored in cabinet [0]";

class kFwCABFailuresTest : public BuilderFixture {
protected:
    void SetUp() override {
        BuilderFixture::SetUp();
        for (const char* name : {"a", "b", "c"}) {
            scratch.write(std::string("in/") + name, std::string(100, name[0]));
        }
        cab.AddFiles() = {scratch.path("in/") + "*.*"};
    }
    void failReadingB(int times) {
        injectFault({FileOperation::Read, "in/b", kErrorReadFault, 0, times});
    }
};

TEST_F(kFwCABFailuresTest, UnreadableFileAnsweredZeroIsSkippedAndCounted) {
    failReadingB(-1);
    recorder.onError = [](int, int& action) { action = kActionSkip; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33", kReadError,
                                       "major 66", "major 100", "major 100", "minor '' 100"}));
    auto files = readCabinet(cabPath);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "a");
    EXPECT_EQ(files[0].data, std::string(100, 'a'));
    EXPECT_EQ(files[1].name, "c");
    EXPECT_EQ(files[1].data, std::string(100, 'c'));
}

TEST_F(kFwCABFailuresTest, UnreadableFileWithoutHandlerIsSkipped) {
    failReadingB(-1);
    cab.OnErrorNotify = nullptr;
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33", "major 66",
                                       "major 100", "major 100", "minor '' 100"}));
    EXPECT_EQ(cabinetContents(cabPath),
              (NamedContents{{"a", std::string(100, 'a')}, {"c", std::string(100, 'c')}}));
}

TEST_F(kFwCABFailuresTest, UnreadableFileRetriedSucceedsOnceTheFaultIsGone) {
    failReadingB(1);
    recorder.onError = [](int, int& action) { action = 2; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33", kReadError,
                                       "major 66", "major 100", "major 100", "minor '' 100"}));
    auto files = readCabinet(cabPath);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[1].name, "b");
    EXPECT_EQ(files[1].data, std::string(100, 'b'));
}

// A folder the walk cannot list is an error naming it, never an empty folder: skipped
// on 0, read again on a retry, the end of the run on -1.
TEST_F(kFwCABFailuresTest, FolderThatCannotBeListedIsReportedNotTakenForEmpty) {
    std::string locked = scratch.path("in/locked/");
    scratch.write("in/locked/d", "dd");
    cab.AddFiles().clear();
    cab.RecurseFiles() = {scratch.path("in/") + "*.*"};
    for (int answer : {0, 1, -1}) {
        SCOPED_TRACE(answer);
        std::filesystem::remove(cabPath);
        recorder.events.clear();
        injectFault({FileOperation::Search, "in/locked/", kErrorAccessDenied});
        std::vector<std::string> named;
        recorder.onError = [&](int, int& action) {
            named.push_back(cab.CurrentFile());
            clearFaults();
            action = answer;
        };
        cab.BuildCabinet();
        EXPECT_EQ(named, std::vector<std::string>{locked});
        EXPECT_NE(std::find(recorder.events.begin(), recorder.events.end(),
                            "error 802 5 " + std::string(kUnreadableFolderText) + " [0]"),
                  recorder.events.end());
        if (answer == -1) {
            EXPECT_FALSE(cabinetWritten());
            continue;
        }
        NamedContents expected{{"a", std::string(100, 'a')},
                               {"b", std::string(100, 'b')},
                               {"c", std::string(100, 'c')}};
        if (answer == 1) {
            expected.insert(expected.begin(), {"d", "dd"});
        }
        NamedContents contents = cabinetContents(cabPath);
        std::sort(contents.begin(), contents.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(contents, expected);
    }
}

TEST_F(kFwCABFailuresTest, UnreadableFileAnsweredMinusOneAbortsWithoutFlush) {
    failReadingB(-1);
    recorder.onError = [](int, int& action) { action = kActionAbort; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events,
              (Events{"major 0", "minor 'Scanning...' 0", "major 33", kReadError}));
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABFailuresTest, FileHeldBySomeoneElseReportsTheSharingError) {
    injectFault({FileOperation::Open, "in/c", kErrorSharingViolation, 0, -1});
    recorder.onError = [](int, int& action) { action = kActionSkip; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events[4], "error 802 32 Failure opening file to be stored in cabinet [0]");
    EXPECT_EQ(cabinetContents(cabPath),
              (NamedContents{{"a", std::string(100, 'a')}, {"b", std::string(100, 'b')}}));
}

TEST_F(kFwCABFailuresTest, FailedFlushIsRetriedOnlyOnOne) {
    injectFault({FileOperation::Open, "out.cab", kErrorAccessDenied, 0, 1});
    recorder.onError = [](int, int& action) { action = kActionRetry; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events, (Events{"major 0", "minor 'Scanning...' 0", "major 33", "major 66",
                                       "major 100", "major 100", "minor '' 100",
                                       "error 802 5 Could not create cabinet file [-1]"}));
    EXPECT_EQ(cabinetContents(cabPath), (NamedContents{{"a", std::string(100, 'a')},
                                                       {"b", std::string(100, 'b')},
                                                       {"c", std::string(100, 'c')}}));
}

TEST_F(kFwCABFailuresTest, FailedFlushAnsweredOtherwiseEndsTheRun) {
    for (int answer : {0, 2, -1}) {
        SCOPED_TRACE(answer);
        recorder.events.clear();
        injectFault({FileOperation::Write, "out.cab", kErrorDiskFull, 0, 1});
        recorder.onError = [answer](int, int& action) { action = answer; };
        cab.BuildCabinet();
        EXPECT_EQ(recorder.events.back(), "error 802 112 Could not create cabinet file [-1]");
        EXPECT_EQ(
            std::count(recorder.events.begin(), recorder.events.end(), recorder.events.back()), 1);
        EXPECT_FALSE(cabinetWritten()) << "no partial cabinet is left";
    }
}

TEST_F(kFwCABFailuresTest, ContextThatCannotBeCreatedSaysWhy) {
    struct Case {
        Fault fault;
        std::string event;
    };
    const Case cases[] = {
        {{FileOperation::Allocate, "", kErrorNotEnoughMemory, 0, 1},
         "error 803 0 Out of memory during compression [-1]"},
        {{FileOperation::Open, "kFw", kErrorDiskFull, 0, 1},
         "error 803 112 Could not create a temporary file [-1]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        recorder.events.clear();
        injectFault(c.fault);
        cab.BuildCabinet();
        EXPECT_EQ(recorder.events, (Events{c.event}));
        EXPECT_FALSE(cabinetWritten());
        clearFaults();
    }
}

TEST_F(kFwCABFailuresTest, CabinetSizeTooSmallForItsHeadersNamesTheFormatLimit) {
    cab.setDiskSize(10);
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events.back(),
              "error 802 0 Cabinet format limit exceeded (a stored name of 256 bytes or more, over "
              "65535 files or folders in one cabinet, over 65535 cabinets in a set, over 2 GB "
              "in a folder or cabinet, or a cabinet size too small to hold its headers) [-1]");
    EXPECT_FALSE(cabinetWritten());
}

TEST_F(kFwCABFailuresTest, UnknownMethodIsReportedPerFile) {
    cab.setCompType(ctQuantum);
    recorder.onError = [](int, int& action) { action = kActionAbort; };
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events.back(), "error 802 0 Unknown compression type [0]");
    EXPECT_FALSE(cabinetWritten());
}

// The file is changed from the progress handler, after the service has read its first
// 64 KiB and before it reads the rest: it shrinks to 100,000 bytes or grows by 50,000.
TEST_F(kFwCABFailuresTest, FileChangingSizeWhilePackedIsStoredAsReadAndNamed) {
    const std::string original = randomBytes(300000, 5);
    for (std::size_t sizeAfter : {std::size_t(100000), std::size_t(350000)}) {
        SCOPED_TRACE(sizeAfter);
        std::filesystem::remove(cabPath);
        std::string big = scratch.write("in/big", original);
        bool changed = false;
        recorder.onMinor = [&](const std::string& file, int, bool&) {
            if (!changed && file == big) {
                changed = true;
                std::filesystem::resize_file(big, sizeAfter);
            }
        };
        std::vector<std::pair<std::string, std::int64_t>> warnings;
        cab.OnSizeChange = [&](tkFwCAB*, const std::string& file, std::int64_t stored) {
            warnings.push_back({file, stored});
        };
        cab.BuildCabinet();
        ASSERT_TRUE(changed) << "no progress was reported while the file was read";
        std::size_t held = std::min(sizeAfter, original.size());
        EXPECT_EQ(warnings, (std::vector<std::pair<std::string, std::int64_t>>{
                                {big, static_cast<std::int64_t>(held)}}));
        // libmspack checks each stored size against the folder's data.
        NamedContents contents = cabinetContents(cabPath);
        EXPECT_EQ(contents.size(), 4u);
        auto stored = std::find_if(contents.begin(), contents.end(),
                                   [](const auto& entry) { return entry.first == "big"; });
        ASSERT_NE(stored, contents.end());
        EXPECT_TRUE(stored->second == original.substr(0, held)) << stored->second.size();
    }
}

} // namespace

} // namespace kp::test

namespace kp::test {
namespace {

// in2/b becomes a link to a folder outside the tree while the walk is in in2: skipping
// leaves b out, a retry once b is back takes it; nothing behind the link is ever read.
TEST_F(kFwCABFailuresTest, FolderSwappedForALinkIsReportedThenSkippedOrRetried) {
    std::string root = scratch.folder("in2");
    scratch.write("in2/a/x", "x");
    scratch.write("in2/b/y", "y");
    scratch.write("secret/y", "not y");
    cab.AddFiles().clear();
    cab.RecurseFiles() = {root + "*.*"};
    cab.setStorePath(true);
    cab.setPartialPath(true);
    const std::string replaced =
        "error 802 " + std::to_string(kErrorFolderReplaced) + " " + kReplacedFolderText;
    for (int answer : {0, 1}) {
        std::filesystem::remove(cabPath);
        recorder.events.clear();
        SetWalkStepHook([&](const std::string& folder) {
            if (folder == root) {
                std::filesystem::rename(root + "b", root + "b.old");
                std::filesystem::create_directory_symlink(scratch.path("secret"), root + "b");
            }
        });
        std::vector<std::string> named;
        recorder.onError = [&](int, int& action) {
            named.push_back(cab.CurrentFile());
            action = answer;
            if (answer == 1 && named.size() == 1) { // put it back, then retry
                std::filesystem::remove(root + "b");
                std::filesystem::rename(root + "b.old", root + "b");
            }
        };
        cab.BuildCabinet();
        SetWalkStepHook({});
        EXPECT_EQ(
            std::count_if(recorder.events.begin(), recorder.events.end(),
                          [&](const std::string& event) { return event.rfind(replaced, 0) == 0; }),
            1)
            << "answer " << answer;
        EXPECT_EQ(named, std::vector<std::string>{root + "b/"}) << "answer " << answer;
        NamedContents expected{{"a\\x", "x"}};
        if (answer == 1) {
            expected.push_back({"b\\y", "y"});
        }
        EXPECT_EQ(cabinetContents(cabPath), expected) << "answer " << answer;
        if (std::filesystem::is_symlink(root + "b")) {
            std::filesystem::remove(root + "b");
        }
        if (std::filesystem::exists(root + "b.old")) {
            std::filesystem::rename(root + "b.old", root + "b");
        }
    }
}

} // namespace
} // namespace kp::test
