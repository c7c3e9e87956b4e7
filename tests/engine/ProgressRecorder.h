// A ProgressProc for the binding that records its reports and answers as told.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace kp::test {

struct ProgressReport {
    std::string file;
    int percent;
};

struct ProgressRecorder {
    std::vector<ProgressReport> reports;
    bool abort = false;
    bool throwing = false;
};

// The recorder the procedure below writes to; each test starts it afresh.
inline ProgressRecorder progress;

inline void recordProgress(const std::string& FileName, int Percent, bool& Abort) {
    progress.reports.push_back({FileName, Percent});
    if (progress.throwing) {
        throw std::runtime_error("handler failed");
    }
    Abort = progress.abort;
}

} // namespace kp::test
