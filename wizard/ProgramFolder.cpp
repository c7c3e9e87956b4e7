#include "ProgramFolder.h"

#include "StringConvert.h"

#include <QCoreApplication>

#include <filesystem>
#include <system_error>

namespace kp {
namespace {

std::string& TestingFolder() {
    static std::string folder;
    return folder;
}

} // namespace

std::string ProgramFolder() {
    if (!TestingFolder().empty()) {
        return TestingFolder();
    }
    // The link gives the path as the file system stores it, byte for byte, and with
    // every symbolic link on the way resolved, as for a program started through one.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        return self.parent_path().string() + kPathSeparator;
    }
    return PathFromQString(QCoreApplication::applicationDirPath()) + kPathSeparator;
}

void SetProgramFolderForTesting(const std::string& folder) {
    TestingFolder() = folder;
}

} // namespace kp
