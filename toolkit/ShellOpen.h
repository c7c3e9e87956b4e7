#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace kp {

// Asks the desktop to open target with its associated program (a browser for a web
// address, the mail program for a mail address). The target is handed on exactly as
// given; the result says whether the desktop took the request.
bool ShellOpen(const QString& target);

// What the default opener hands to the desktop: web and mail addresses only, written
// with or without their scheme. Anything else (local files, programs, other schemes)
// gives an invalid URL and is not opened, since a label's text must never start a
// program.
QUrl UrlForShellTarget(const QString& target);

using ShellOpener = std::function<bool(const QString& target)>;

// Installs an opener in place of the desktop and returns the one it replaces; an
// empty opener brings back the desktop.
ShellOpener SetShellOpener(ShellOpener opener);

} // namespace kp
