// kcab's command line.
#pragma once

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
    int lzxWindow = kMaxLzxWindow;
    // Bit patterns for the builder: 2 GiB is held as the int32 with only the top bit set.
    std::int32_t folderSize = 2 * 1024 * 1024;
    std::int32_t cabinetSize = 2147483647;
    StoredPaths storedPaths = StoredPaths::Relative;
    // Set for a self-extractor rather than parsed: other files the run writes, never
    // packed; the job must fit in one cabinet; the cabinet is only a step on the way
    // (no summary names it).
    std::vector<std::string> ownFiles;
    bool singleCabinet = false;
    bool cabinetIsStep = false;
    // Compression threads; 0 until -j is given, meaning the cores kcab may run on.
    unsigned threads = 0;
    int effort = kMinEffort;
};

// The cores this process may run on (its affinity mask), at least 1.
unsigned availableCores();

// Fills `options` from the arguments after the program name; false with `error` set
// when they are not usable.
bool parseKcabOptions(const std::vector<std::string>& arguments, KcabOptions& options,
                      std::string& error);

extern const char* const kKcabHelp;
// The first line `kcab --version` prints: the program, the project and its version.
extern const char* const kKcabVersion;

} // namespace kp
