#pragma once
// What kcab's libmspack systems share: file work over the platform layer's handles,
// silence, and the C library's memory. libmspack prints its complaints through a
// system's message(); kcab says what went wrong in its own words instead.

#include "platform/Files.h"

#include <cstddef>
#include <mspack.h>

namespace kp {

int mspackRead(platform::FileHandle handle, void* buffer, int bytes);
// mode is one of MSPACK_SYS_SEEK_*; 0 on success, -1 on failure.
int mspackSeek(platform::FileHandle handle, off_t offset, int mode);
off_t mspackTell(platform::FileHandle handle);

void mspackSaysNothing(mspack_file*, const char*, ...);
void* mspackAlloc(mspack_system*, std::size_t bytes);
void mspackFree(void* memory);
void mspackCopy(void* from, void* to, std::size_t bytes);

} // namespace kp
