#include "platform/DosTime.h"
#include "platform/LastError.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace kp::platform;

namespace kp::test {

namespace {

class DosTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        savedZone = zone ? zone : "";
        hadZone = zone != nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadZone) {
            ::setenv("TZ", savedZone.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    std::string savedZone;
    bool hadZone = false;
};

TEST_F(DosTimeTest, PacksLocalDateAndTimeWithTwoSecondSteps) {
    DosDateTime stamp;
    // 2024-03-15 13:45:31 UTC
    ASSERT_TRUE(localDosDateTime({1710510331, 0}, stamp));
    EXPECT_EQ(stamp.date, ((2024 - 1980) << 9) | (3 << 5) | 15);
    EXPECT_EQ(stamp.time, (13 << 11) | (45 << 5) | 15);
}

TEST_F(DosTimeTest, FollowsTheLocalZone) {
    ::setenv("TZ", "UTC-2", 1);
    ::tzset();
    DosDateTime stamp;
    ASSERT_TRUE(localDosDateTime({1710510331, 0}, stamp));
    EXPECT_EQ(stamp.time >> 11, 15);
}

TEST_F(DosTimeTest, RefusesYearsDosCannotHold) {
    DosDateTime stamp;
    EXPECT_TRUE(localDosDateTime({315532800, 0}, stamp)); // 1980-01-01 00:00:00
    EXPECT_EQ(stamp.date, (1 << 5) | 1);
    EXPECT_EQ(stamp.time, 0);
    EXPECT_FALSE(localDosDateTime({315532799, 0}, stamp));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
    EXPECT_FALSE(localDosDateTime({4354819200, 0}, stamp)); // 2108-01-01
}

} // namespace

} // namespace kp::test
