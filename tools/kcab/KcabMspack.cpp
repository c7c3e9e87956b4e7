#include "KcabMspack.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kp {

using namespace platform;

int mspackRead(FileHandle handle, void* buffer, int bytes) {
    std::uint32_t got = 0;
    if (bytes < 0 || !readFile(handle, buffer, std::uint32_t(bytes), got)) {
        return -1;
    }
    return int(got);
}

int mspackSeek(FileHandle handle, off_t offset, int mode) {
    SeekOrigin origin = mode == MSPACK_SYS_SEEK_START ? SeekOrigin::Begin
                        : mode == MSPACK_SYS_SEEK_CUR ? SeekOrigin::Current
                                                      : SeekOrigin::End;
    return seekFile(handle, offset, origin) < 0 ? -1 : 0;
}

off_t mspackTell(FileHandle handle) {
    return off_t(seekFile(handle, 0, SeekOrigin::Current));
}

void mspackSaysNothing(mspack_file*, const char*, ...) {}

void* mspackAlloc(mspack_system*, std::size_t bytes) {
    return std::malloc(bytes);
}

void mspackFree(void* memory) {
    std::free(memory);
}

void mspackCopy(void* from, void* to, std::size_t bytes) {
    std::memmove(to, from, bytes);
}

} // namespace kp
