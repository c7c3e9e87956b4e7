#include "SpoolFolder.h"

#include "ProgramFolder.h"
#include "StringConvert.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kp {
namespace {

// Tried by creating a file, as the builder will: permission bits alone do not tell
// (a read-only file system, or root, who may write anywhere else).
bool CanCreateFilesIn(const std::string& folder) {
    const std::string probe = platform::createUniqueTempFile(folder, "kFw");
    if (probe.empty()) {
        return false;
    }
    platform::deleteFile(probe);
    return true;
}

// Only its owner may look into it: the cabinet holds whatever the user packs.
std::string UserSpoolFolder() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) {
        return {};
    }
    const QString folder = cache + QStringLiteral("/kpellix");
    if (!QDir().mkpath(folder)) {
        return {};
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return platform::withTrailingSeparator(PathFromQString(folder));
}

} // namespace

std::string SpoolFolder() {
    const std::string program = ProgramFolder();
    if (CanCreateFilesIn(program)) {
        return program;
    }
    const std::string user = UserSpoolFolder();
    if (!user.empty() && CanCreateFilesIn(user)) {
        return user;
    }
    return program;
}

} // namespace kp
