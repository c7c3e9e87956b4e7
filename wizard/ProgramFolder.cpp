#include "ProgramFolder.h"

#include "StringConvert.h"

#include "platform/ProgramFolder.h"

#include <QCoreApplication>

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
    const std::string folder = platform::programFolder();
    if (!folder.empty()) {
        return folder;
    }
    return PathFromQString(QCoreApplication::applicationDirPath()) + kPathSeparator;
}

void SetProgramFolderForTesting(const std::string& folder) {
    TestingFolder() = folder;
}

} // namespace kp
