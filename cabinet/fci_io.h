// The client's callbacks and error record, and the temporary files built on them.
#pragma once

#include <cstdint>

#include "codec.h"
#include "fci.h"

namespace kp::cab {

// Everything a context reaches the outside world through. Every failure is
// recorded once, in the client's ERF, by fail().
struct ClientIo {
    PERF erf;
    PFNFCIFILEPLACED filePlaced;
    PFNFCIALLOC alloc;
    PFNFCIFREE free;
    PFNFCIOPEN open;
    PFNFCIREAD read;
    PFNFCIWRITE write;
    PFNFCICLOSE close;
    PFNFCISEEK seek;
    PFNFCIDELETE remove;
    PFNFCIGETTEMPFILE getTempFile;
    void* pv;

    // Always returns false, so callers can write `return io.fail(...)`.
    bool fail(int oper, int type = 0) const;
    void* allocate(std::uint32_t bytes) const;
    void release(void* block) const;
    Allocator codecAllocator() const;
};

constexpr INT_PTR kNoHandle = -1;
// Longest path a temporary-file callback may write, terminator included.
constexpr int kTempNameSize = 1024;

// A temporary file used as an append-only store that is read back from the start
// and then emptied for reuse. Its bytes are never truncated on disk: `size` is the
// logical length, and bytes past it may be written and read as scratch until an
// append reaches them.
class TempFile {
public:
    bool create(const ClientIo& io, int& err);
    bool append(const ClientIo& io, const void* data, std::uint32_t size, int& err);
    // Takes `size` bytes already written just past the logical end as appended.
    void adopt(std::uint32_t size) { size_ += size; }
    bool writeAt(const ClientIo& io, std::uint64_t offset, const void* data, std::uint32_t size,
                 int& err);
    bool readAt(const ClientIo& io, std::uint64_t offset, void* data, std::uint32_t size, int& err);
    void clear() { size_ = 0; }
    // Closes and deletes the file; safe to call on a file that was never created.
    void destroy(const ClientIo& io);
    std::uint32_t size() const { return size_; }

private:
    bool seekTo(const ClientIo& io, std::uint64_t offset, int& err);

    char name_[kTempNameSize] = {};
    INT_PTR handle_ = kNoHandle;
    std::uint32_t size_ = 0;
    std::uint64_t position_ = 0;
    bool positionKnown_ = false;
};

} // namespace kp::cab
