#pragma once

#include "AviWriter.h"

namespace kp {

// "solefile.avi": sheets of paper flying from left to right, turning as they go, in
// a loop of 17 frames of 176 x 40 pixels on a plain background.
AviMovie SolefileMovie();

} // namespace kp
