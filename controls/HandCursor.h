#pragma once

#include <QCursor>

namespace kp {

// The program's own "HAND" pointer from its resources: 32 x 32 pixels, hot spot on
// the fingertip.
QCursor LoadHandCursor();

inline constexpr int kHandCursorHotSpotX = 5;
inline constexpr int kHandCursorHotSpotY = 0;

} // namespace kp
