// The desktop's keyboard conventions that Qt's widgets do not follow on their own.
#pragma once

class QWidget;

namespace kp {

// Within `window` (a top-level widget, not a dialog), from now on:
// - Enter and Return press the push or tool button that has the focus, as Space does;
//   a window without a default button has nothing else for them to press.
// - Each group of auto-exclusive radio buttons (those sharing a parent) is one tab
//   stop, its checked button, so Tab lands on the choice in force; the arrow keys
//   still move between the group's buttons.
void UseDesktopKeys(QWidget& window);

} // namespace kp
