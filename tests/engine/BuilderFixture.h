// A builder writing scratch/out.cab, with its events recorded.
#pragma once

#include "EngineFixture.h"
#include "EventRecorder.h"

#include <filesystem>

namespace kp::test {

class BuilderFixture : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        cabPath = scratch.path("out.cab");
        cab.setCabFile(cabPath);
    }

    bool cabinetWritten() const { return std::filesystem::exists(cabPath); }

    using Events = std::vector<std::string>;

    tkFwCAB cab;
    EventRecorder recorder{cab};
    std::string cabPath;
};

} // namespace kp::test
