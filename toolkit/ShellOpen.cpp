#include "ShellOpen.h"

#include "StringConvert.h"

#include <QDesktopServices>

#include <utility>

namespace kp {

namespace {

bool IsOpenableScheme(const QString& scheme) {
    return scheme == u"http" || scheme == u"https" || scheme == u"mailto";
}

bool OpenWithDesktop(const QString& target) {
    const QUrl url = UrlForShellTarget(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

ShellOpener& CurrentOpener() {
    static ShellOpener opener;
    return opener;
}

} // namespace

QUrl UrlForShellTarget(const QString& target) {
    const QString address = TrimBlanks(target);
    if (address.isEmpty()) {
        return {};
    }
    QUrl url;
    if (address.contains(u"://") || address.startsWith(u"mailto:", Qt::CaseInsensitive)) {
        url = QUrl(address, QUrl::StrictMode);
    } else if (address.contains(u'@') && !address.contains(u'/')) {
        url = QUrl(QStringLiteral("mailto:") + address, QUrl::StrictMode);
    } else if (!address.startsWith(u'/') && !address.startsWith(u'.') &&
               !address.startsWith(u'~')) {
        url = QUrl(QStringLiteral("http://") + address, QUrl::StrictMode);
    }
    url.setScheme(url.scheme().toLower());
    if (!url.isValid() || !IsOpenableScheme(url.scheme())) {
        return {};
    }
    const bool hasWhereToGo =
        url.scheme() == u"mailto" ? !url.path().isEmpty() : !url.host().isEmpty();
    return hasWhereToGo ? url : QUrl();
}

bool ShellOpen(const QString& target) {
    if (const ShellOpener& opener = CurrentOpener()) {
        return opener(target);
    }
    return OpenWithDesktop(target);
}

ShellOpener SetShellOpener(ShellOpener opener) {
    return std::exchange(CurrentOpener(), std::move(opener));
}

} // namespace kp
