#include "ProcessMessages.h"

#include <QCoreApplication>

namespace kp {

void ProcessMessages() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace kp
