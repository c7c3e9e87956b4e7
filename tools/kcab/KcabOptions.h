// kcab's command line.
#pragma once

#include "cab_format.h"
#include "engine/CompressionType.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kp {

enum class StoredPaths { None, Full, Relative };

struct KcabOptions {
    std::string output;
    std::vector<std::string> paths;
    bool recursive = false;
    bool replace = false;
    bool quiet = false;
    bool verify = false;
    // Names that would not come back whole on Windows stop a self-extractor's run
    // unless the user accepts the loss; a plain cabinet only warns.
    bool acceptNameLoss = false;
    bool forWindows = false; // set with --sfx, whose output is always for Windows
    bool help = false;
    bool version = false;
    TCompressionType method = ctLzx;
    int lzxWindow = cab::lzx::kMaxWindowBits;
    // Bit patterns for the builder: 2 GiB is held as the int32 with only the top bit set.
    std::int32_t folderSize = 2 * 1024 * 1024;
    std::int32_t cabinetSize = 2147483647;
    StoredPaths storedPaths = StoredPaths::Relative;
};

// Fills `options` from the arguments after the program name; false with `error` set
// when they are not usable.
bool parseKcabOptions(const std::vector<std::string>& arguments, KcabOptions& options,
                      std::string& error);

extern const char* const kKcabHelp;
// The first line `kcab --version` prints: the program, the project and its version.
extern const char* const kKcabVersion;

} // namespace kp
