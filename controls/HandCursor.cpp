#include "HandCursor.h"

#include <QPixmap>

// Q_INIT_RESOURCE declares its function where it is used, so it must stand outside any
// namespace. The resources live in this static library; without the call the linker
// leaves them out and the pointer would be empty.
static void LoadCursorResources() {
    Q_INIT_RESOURCE(cursors);
}

namespace kp {

QCursor LoadHandCursor() {
    LoadCursorResources();
    const QPixmap image(QStringLiteral(":/cursors/HAND"), "XPM");
    return QCursor(image, kHandCursorHotSpotX, kHandCursorHotSpotY);
}

} // namespace kp
