#pragma once

#include <QColor>

#include <cstdint>

namespace kp {

// A colour as the form descriptions write it: 0x00BBGGRR, red in the lowest byte.
using TColor = std::uint32_t;

QColor ColorFromTColor(TColor color);
TColor TColorFromColor(const QColor& color);

} // namespace kp
