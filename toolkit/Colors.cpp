#include "Colors.h"

namespace kp {

QColor ColorFromTColor(TColor color) {
    return QColor(static_cast<int>(color & 0xFFu), static_cast<int>((color >> 8) & 0xFFu),
                  static_cast<int>((color >> 16) & 0xFFu));
}

TColor TColorFromColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<TColor>(rgb.red()) | (static_cast<TColor>(rgb.green()) << 8) |
           (static_cast<TColor>(rgb.blue()) << 16);
}

} // namespace kp
