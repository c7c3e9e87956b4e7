#pragma once

#include <QCursor>

namespace kp {

// The application's table of screen cursors: a number names a pointer shape, so a
// control can say "cursor 5" and get whatever the program registered under 5.
// The negative numbers are the built-in shapes and are filled in from the start.
inline constexpr int crDefault = 0;
inline constexpr int crNone = -1;
inline constexpr int crArrow = -2;
inline constexpr int crCross = -3;
inline constexpr int crIBeam = -4;
inline constexpr int crSizeNESW = -6;
inline constexpr int crSizeNS = -7;
inline constexpr int crSizeNWSE = -8;
inline constexpr int crSizeWE = -9;
inline constexpr int crUpArrow = -10;
inline constexpr int crHourGlass = -11;
inline constexpr int crDrag = -12;
inline constexpr int crNoDrop = -13;
inline constexpr int crHSplit = -14;
inline constexpr int crVSplit = -15;
inline constexpr int crNo = -18;
inline constexpr int crAppStart = -19;
inline constexpr int crHelp = -20;
inline constexpr int crHandPoint = -21;
inline constexpr int crSizeAll = -22;

// The cursor registered under number; a number nobody registered gives the default
// arrow, as an unknown cursor should never leave the pointer invisible.
QCursor ScreenCursor(int number);

// Registers cursor under number, replacing what was there.
void SetScreenCursor(int number, const QCursor& cursor);

} // namespace kp
