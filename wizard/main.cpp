// The program: the wizard window and the message loop.
#include "uWCompress.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The program's title is the main window's own; a display name would also be
    // appended to every box's and dialog's title.
    QApplication::setDesktopFileName(QStringLiteral("kpellix"));

    // Every argument is a path, taken byte for byte (Qt has removed its own options).
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    kp::TcWizard cWizard(arguments);
    cWizard.show();
    return QApplication::exec();
}
