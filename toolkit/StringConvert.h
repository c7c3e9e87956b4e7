#pragma once

#include <QString>

#include <string>

namespace kp {

// Our strings are UTF-8 std::string away from Qt; these are the only crossings.
QString ToQString(const std::string& text);
std::string ToStdString(const QString& text);

// Paths cross with the file system's encoding (QFile::decodeName/encodeName). A byte
// sequence that is not valid in that encoding shows as a replacement character; it
// cannot come back to the same bytes, so such a QString is for display only.
QString PathToQString(const std::string& path);
std::string PathFromQString(const QString& path);

// Removes leading and trailing blanks: spaces and control characters.
QString TrimBlanks(const QString& text);

} // namespace kp
