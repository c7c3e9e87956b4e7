#include "platform/Paths.h"

namespace kp::platform {

std::string folderPart(const std::string& path) {
    std::string::size_type separator = path.find_last_of(kPathSeparator);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string namePart(const std::string& path) {
    return path.substr(folderPart(path).size());
}

std::string withTrailingSeparator(const std::string& folder) {
    if (folder.empty() || folder.back() == kPathSeparator) {
        return folder;
    }
    return folder + kPathSeparator;
}

} // namespace kp::platform
