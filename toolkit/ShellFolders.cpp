#include "ShellFolders.h"

#include "StringConvert.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kp {

std::optional<std::string> SpecialFolderLocation(int folder) {
    QString path;
    switch (folder) {
    case kSpecialFolderDesktop:
        path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        break;
    case kSpecialFolderPersonal:
        path = QDir::homePath();
        break;
    case kSpecialFolderMyComputer:
        path = QDir::rootPath();
        break;
    default:
        return std::nullopt;
    }
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return std::nullopt;
    }
    return PathFromQString(QDir::cleanPath(path));
}

} // namespace kp
