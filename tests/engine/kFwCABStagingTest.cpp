// What a run leaves on disk: the earlier cabinet until a new one is complete, nothing
// of its own after a failure, and never a file it did not write.
#include "BuilderFixture.h"
#include "platform/LastError.h"

#include <set>

using namespace kp::platform;

namespace kp::test {

namespace {

class kFwCABStagingTest : public BuilderFixture {
protected:
    void SetUp() override {
        BuilderFixture::SetUp();
        scratch.write("in/a", std::string(5000, 'a'));
        scratch.write("in/b", randomBytes(90000, 3));
        cab.AddFiles() = {scratch.path("in/") + "*.*"};
        cab.setCompType(ctNone);
    }

    // Every name in the scratch folder and beneath it.
    std::set<std::string> everything() const {
        std::set<std::string> names;
        for (const auto& item : std::filesystem::recursive_directory_iterator(scratch.path())) {
            names.insert(item.path().string());
        }
        return names;
    }
};

TEST_F(kFwCABStagingTest, FailedRunsLeaveTheEarlierCabinetAndNothingOfTheirOwn) {
    scratch.write("out.cab", "earlier cabinet");
    cab.setReplace(true);
    const std::set<std::string> before = everything();

    // An unreadable file answered with abort, an abort at the last report (no flush),
    // a full disk while the cabinet is written, and one at a second cabinet of a set.
    injectFault({FileOperation::Read, "in/b", kErrorReadFault, 0, -1});
    recorder.onError = [](int, int& action) { action = kActionAbort; };
    cab.BuildCabinet();
    clearFaults();
    recorder.onMajor = [](const std::string&, int percent, bool& abort) { abort = percent == 100; };
    cab.BuildCabinet();
    recorder.onMajor = nullptr;
    injectFault({FileOperation::Write, ".out.cab.kFw", kErrorDiskFull, 0, -1});
    cab.BuildCabinet();
    clearFaults();
    cab.setDiskSize(60000);
    recorder.onNext = [&](std::string& name, std::string&, int cabNo, int&, bool&) {
        name = "out" + std::to_string(cabNo) + ".cab";
        injectFault({FileOperation::Write, "", kErrorDiskFull, 0, -1});
    };
    cab.BuildCabinet();
    clearFaults();
    EXPECT_EQ(std::count_if(recorder.events.begin(), recorder.events.end(),
                            [](const std::string& event) {
                                return event.rfind("error 802 112 Could not create cabinet", 0) ==
                                       0;
                            }),
              2)
        << ::testing::PrintToString(recorder.events);
    EXPECT_EQ(readFileBytes(cabPath), "earlier cabinet");
    EXPECT_EQ(everything(), before);

    // Once the whole set is written, it replaces the earlier cabinet.
    recorder.onNext = [&](std::string& name, std::string&, int cabNo, int&, bool&) {
        name = "out" + std::to_string(cabNo) + ".cab";
    };
    cab.setCabFile(cabPath);
    cab.BuildCabinet();
    EXPECT_EQ(extractWithCabextract(cabPath, scratch.path("x")),
              (std::map<std::string, std::string>{{"a", readFileBytes(scratch.path("in/a"))},
                                                  {"b", readFileBytes(scratch.path("in/b"))}}));
    EXPECT_EQ(std::filesystem::status(cabPath).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read)
        << "a cabinet gets the permissions of a file created by name (umask 022)";
}

TEST_F(kFwCABStagingTest, ACabinetNameTakenDuringTheRunIsLeftToItsOwner) {
    recorder.onMajor = [&](const std::string&, int percent, bool&) {
        if (percent == 100) {
            scratch.write("out.cab", "someone else's");
        }
    };
    const std::set<std::string> before = [&] {
        std::set<std::string> names = everything();
        names.insert(cabPath);
        return names;
    }();
    cab.BuildCabinet();
    EXPECT_EQ(recorder.events.back(), "error 802 80 Could not create cabinet file [-1]");
    EXPECT_EQ(readFileBytes(cabPath), "someone else's");
    EXPECT_EQ(everything(), before) << "no staging file left";
}

TEST_F(kFwCABStagingTest, TheRunsOwnCabinetsAndExcludedFilesAreNeverPacked) {
    // The set is written into the folder being packed, beside an earlier cabinet that
    // the caller excludes by another path (a link to it).
    scratch.write("in/old.cab", "earlier set");
    ASSERT_EQ(::symlink(scratch.path("in/old.cab").c_str(), scratch.path("old-link").c_str()), 0);
    cab.ExcludedFiles() = {scratch.path("old-link")};
    cab.AddFiles().clear();
    cab.RecurseFiles() = {scratch.path("") + "*.*"};
    cab.setCabFile(scratch.path("in/set.cab"));
    cab.setDiskSize(40000);
    recorder.onNext = [&](std::string& name, std::string&, int cabNo, int&, bool&) {
        name = "set" + std::to_string(cabNo) + ".cab";
    };
    cab.BuildCabinet();
    ASSERT_TRUE(std::filesystem::exists(scratch.path("in/set3.cab")));
    auto extracted = extractWithCabextract(scratch.path("in/set.cab"), scratch.path("x"));
    std::set<std::string> names;
    for (const auto& [name, bytes] : extracted) {
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"a", "b"}));
}

TEST_F(kFwCABStagingTest, NameThatIsNotUtf8IsRefusedAndTheFileNamed) {
    scratch.write("in/caf\xe9", "latin-1 name");
    std::string refused;
    recorder.onError = [&](int, int& action) {
        refused = cab.CurrentFile();
        action = kActionSkip;
    };
    cab.BuildCabinet();
    EXPECT_NE(std::find(recorder.events.begin(), recorder.events.end(),
                        "error 802 1113 File name is not valid UTF-8 [0]"),
              recorder.events.end());
    EXPECT_EQ(refused, scratch.path("in/caf\xe9"));
    auto files = readCabinet(cabPath);
    ASSERT_EQ(files.size(), 2u) << "skipped, the others packed";
    EXPECT_EQ(files[0].name, "a");
    EXPECT_EQ(files[1].name, "b");
}

} // namespace

} // namespace kp::test
