// Decoders we did not write, used to check every cabinet the tests produce.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kp::test {

struct CabEntry {
    std::string name;
    std::vector<std::uint8_t> data;
    int attribs = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// libmspack in-process: opens `first`, joins the cabinets its header names as next
// (found beside it) unless `wholeSet` is false, and extracts every file. On failure
// returns false with a reason.
bool readWithMspack(const std::filesystem::path& first, std::vector<CabEntry>& entries,
                    std::string& error, bool wholeSet = true);

// Runs a shell command, returning its exit status and (merged) output.
int runCommand(const std::string& command, std::string& output);

// Extracts with an external program into `outDir` ("cabextract" or "7z") and
// returns the files found there, keyed by their path relative to `outDir`.
std::map<std::string, std::vector<std::uint8_t>> extractWith(const std::string& tool,
                                                             const std::filesystem::path& first,
                                                             const std::filesystem::path& outDir,
                                                             std::string& output, int& status);

// Expected content keyed by the name stored in the cabinet, with '\' as stored.
using Expected = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

// Checks the cabinet (or set starting at `first`) with libmspack, cabextract and 7z
// against `expected`, in stored order for libmspack. Returns an empty string when
// all agree, else what went wrong.
std::string checkWithAllDecoders(const std::filesystem::path& first, const Expected& expected);

} // namespace kp::test
