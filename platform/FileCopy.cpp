#include "platform/FileCopy.h"

#include "platform/Files.h"
#include "platform/LastError.h"
#include "platform/WholeFiles.h"

#include <vector>

namespace kp::platform {

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
    if (failIfExists && fileAttributes(to) != kInvalidFileAttributes) {
        setLastError(kErrorFileExists);
        return false;
    }
    FileHandle source = openFile(from, FileAccess::Read, FileDisposition::OpenExisting, true);
    if (source == kInvalidHandle) {
        return false;
    }
    std::vector<std::uint8_t> buffer(1 << 20);
    bool copied = replaceWholeFile(to, permissionBits(from, 0644), [&](FileHandle target) {
        for (;;) {
            std::uint32_t got = 0;
            if (!readFile(source, buffer.data(), static_cast<std::uint32_t>(buffer.size()), got)) {
                return false;
            }
            if (got == 0) {
                return true;
            }
            if (!writeAll(target, buffer.data(), got)) {
                return false;
            }
        }
    });
    std::uint32_t outcome = lastError();
    closeFile(source);
    setLastError(outcome);
    return copied;
}

} // namespace kp::platform
