// kcab's command line.
#pragma once

#include "engine/CompressionType.h"

#include <cstdint>
#include <string>
#include <vector>

enum class StoredPaths { None, Full, Relative };

struct KcabOptions {
    std::string output;
    std::vector<std::string> paths;
    bool recursive = false;
    bool replace = false;
    bool quiet = false;
    bool verify = false;
    bool help = false;
    TCompressionType method = ctLzx;
    int lzxWindow = 21;
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
