// A seam through which tests make file operations fail with a chosen error.
// Tests run as root, where permission bits stop nothing, so this is the only
// dependable way to provoke open, read and write failures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kp::platform {

enum class FileOperation {
    Open,
    Read,
    Write,
    Seek,
    Close,
    Delete,
    TempName,
    Information,
    Attributes,
    Search,
    Allocate, // heap allocations; matched with an empty pathContains
    Rename,   // matched on the target name
    Status,   // what a path names and how large it is, asked by name
};

struct Fault {
    FileOperation operation;
    // The operation fails only on a path containing this text; empty matches every path.
    std::string pathContains;
    std::uint32_t error;
    // Matching calls that still succeed before the first failure.
    int skip = 0;
    // Failures before the fault wears off; negative never wears off.
    int times = -1;
};

void injectFault(const Fault& fault);
void clearFaults();

// Clears every injected fault when it goes out of scope.
class FaultScope {
public:
    FaultScope() = default;
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;
    ~FaultScope() { clearFaults(); }
};

// Called by the layer's own operations: the error to fail with, if a fault matches.
std::optional<std::uint32_t> takeFault(FileOperation operation, const std::string& path);

} // namespace kp::platform
