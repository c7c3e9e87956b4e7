// A private folder for each test, with the service's temporary files kept in it so
// that a test can see that none is left behind.
#pragma once

#include "CabinetCheck.h"
#include "ScratchFolder.h"
#include "platform/FaultInjection.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace kp::test {

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char* previous = std::getenv("TMPDIR");
        hadTmpdir = previous != nullptr;
        savedTmpdir = previous ? previous : "";
        tempFolder = scratch.folder("tmp");
        ::setenv("TMPDIR", tempFolder.c_str(), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(leftoverTempFiles(tempFolder).empty()) << "temporary files left behind";
        if (hadTmpdir) {
            ::setenv("TMPDIR", savedTmpdir.c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    ScratchFolder scratch;
    kp::platform::FaultScope faults;
    std::string tempFolder;

private:
    bool hadTmpdir = false;
    std::string savedTmpdir;
};

} // namespace kp::test
