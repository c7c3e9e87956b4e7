#include "fci_io.h"

#include <cerrno>
#include <limits>

namespace kp::cab {

bool ClientIo::fail(int oper, int type) const {
    if (erf) {
        erf->erfOper = oper;
        erf->erfType = type;
        erf->fError = TRUE;
    }
    return false;
}

void* ClientIo::allocate(std::uint32_t bytes) const {
    return bytes ? alloc(bytes) : nullptr;
}

void ClientIo::release(void* block) const {
    if (block) {
        free(block);
    }
}

namespace {
void* codecAlloc(void* opaque, std::size_t bytes) {
    auto* io = static_cast<const ClientIo*>(opaque);
    if (bytes == 0 || bytes > 0xFFFFFFFFu) {
        return nullptr;
    }
    return io->alloc(ULONG(bytes));
}
void codecFree(void* opaque, void* block) {
    static_cast<const ClientIo*>(opaque)->release(block);
}
} // namespace

Allocator ClientIo::codecAllocator() const {
    return Allocator{codecAlloc, codecFree, const_cast<ClientIo*>(this)};
}

bool TempFile::create(const ClientIo& io, int& err) {
    err = 0;
    if (!io.getTempFile(name_, kTempNameSize, io.pv)) {
        name_[0] = 0;
        return false;
    }
    name_[kTempNameSize - 1] = 0;
    handle_ =
        io.open(name_, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE, &err, io.pv);
    if (handle_ == kNoHandle) {
        name_[0] = 0;
        return false;
    }
    size_ = position_ = 0;
    positionKnown_ = true;
    return true;
}

bool TempFile::seekTo(const ClientIo& io, std::uint64_t offset, int& err) {
    if (positionKnown_ && position_ == offset) {
        return true;
    }
    positionKnown_ = false;
    if (offset > std::uint64_t(std::numeric_limits<long>::max())) {
        err = EFBIG;
        return false;
    }
    if (io.seek(handle_, long(offset), 0, &err, io.pv) != long(offset)) {
        return false;
    }
    position_ = offset;
    positionKnown_ = true;
    return true;
}

bool TempFile::append(const ClientIo& io, const void* data, std::uint32_t size, int& err) {
    if (!writeAt(io, size_, data, size, err)) {
        return false;
    }
    size_ += size;
    return true;
}

bool TempFile::writeAt(const ClientIo& io, std::uint64_t offset, const void* data,
                       std::uint32_t size, int& err) {
    err = 0;
    if (size == 0) {
        return true;
    }
    if (!seekTo(io, offset, err)) {
        return false;
    }
    UINT written = io.write(handle_, const_cast<void*>(data), size, &err, io.pv);
    if (written != size) {
        positionKnown_ = false;
        return false;
    }
    position_ += size;
    return true;
}

bool TempFile::readAt(const ClientIo& io, std::uint64_t offset, void* data, std::uint32_t size,
                      int& err) {
    err = 0;
    if (size == 0) {
        return true;
    }
    if (!seekTo(io, offset, err)) {
        return false;
    }
    UINT got = io.read(handle_, data, size, &err, io.pv);
    if (got != size) {
        positionKnown_ = false;
        return false;
    }
    position_ += size;
    return true;
}

void TempFile::destroy(const ClientIo& io) {
    int err = 0;
    if (handle_ != kNoHandle) {
        io.close(handle_, &err, io.pv);
        handle_ = kNoHandle;
    }
    if (name_[0]) {
        io.remove(name_, &err, io.pv);
        name_[0] = 0;
    }
    size_ = position_ = 0;
}

} // namespace kp::cab
