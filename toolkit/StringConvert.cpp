#include "StringConvert.h"

#include <QFile>

namespace kp {

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) {
    return text.toStdString();
}

QString PathToQString(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string PathFromQString(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString TrimBlanks(const QString& text) {
    const auto isBlank = [](QChar c) { return c.unicode() <= u' '; };
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && isBlank(text[first])) {
        ++first;
    }
    while (end > first && isBlank(text[end - 1])) {
        --end;
    }
    return text.mid(first, end - first);
}

} // namespace kp
