// Jobs larger than one cabinet: the set's names come from OnMessageNotify.
#include "BuilderFixture.h"

namespace kp::test {

namespace {

class kFwCABSetTest : public BuilderFixture {
protected:
    void SetUp() override {
        BuilderFixture::SetUp();
        for (int i = 0; i < 5; ++i) {
            scratch.write("in/f" + std::to_string(i) + ".bin", randomBytes(30000, 20 + i));
        }
        cab.AddFiles() = {scratch.path("in/") + "*.*"};
        cab.setDiskSize(50000);
        cab.setCompType(ctNone);
    }
};

TEST_F(kFwCABSetTest, HandlerNamesEveryFurtherCabinetAndCabFileFollows) {
    std::vector<int> numbers;
    recorder.onNext = [&](std::string& cabName, std::string& diskName, int cabNo, int& diskNo,
                          bool&) {
        numbers.push_back(cabNo);
        EXPECT_EQ(diskNo, cabNo - 1) << "the current disk arrives";
        cabName = "out" + std::to_string(cabNo) + ".cab";
        diskName = "Disk " + std::to_string(cabNo);
        diskNo = cabNo;
    };
    cab.BuildCabinet();
    ASSERT_GE(numbers.size(), 2u);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], static_cast<int>(i) + 2);
    }
    std::string last = scratch.path("out" + std::to_string(numbers.back()) + ".cab");
    EXPECT_EQ(cab.CabFile(), last);
    EXPECT_TRUE(std::filesystem::exists(last));

    auto extracted = extractWithCabextract(cabPath, scratch.path("x"));
    ASSERT_EQ(extracted.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(extracted["f" + std::to_string(i) + ".bin"], randomBytes(30000, 20 + i));
    }
}

TEST_F(kFwCABSetTest, AbortFromTheHandlerFailsTheFileAsUserAbort) {
    recorder.onNext = [](std::string& cabName, std::string&, int cabNo, int&, bool& abort) {
        cabName = "out" + std::to_string(cabNo) + ".cab";
        abort = true;
    };
    cab.BuildCabinet();
    ASSERT_FALSE(recorder.events.empty());
    EXPECT_EQ(recorder.events.back(), "error 801 0 User abort [0]");
}

} // namespace

} // namespace kp::test
