#include "ScreenCursors.h"

#include <QPixmap>

#include <algorithm>
#include <set>
#include <utility>

#include <gtest/gtest.h>

namespace kp::test {

namespace {

const int kBuiltInNumbers[] = {crDefault,   crNone,     crArrow,    crCross,     crIBeam,
                               crSizeNESW,  crSizeNS,   crSizeNWSE, crSizeWE,    crUpArrow,
                               crHourGlass, crDrag,     crNoDrop,   crHSplit,    crVSplit,
                               crNo,        crAppStart, crHelp,     crHandPoint, crSizeAll};

// Numbers that name the same pointer: the default is the arrow, and "no" is "no drop".
bool sameByName(int a, int b) {
    const std::set<std::pair<int, int>> aliases = {{crArrow, crDefault}, {crNo, crNoDrop}};
    return aliases.count({std::min(a, b), std::max(a, b)}) > 0;
}

} // namespace

// A missing row (which falls back to the arrow), a row copied onto another number or
// a pointer left invisible shows here.
TEST(ScreenCursors, BuiltInNumbersShowDistinctVisiblePointers) {
    for (int a : kBuiltInNumbers) {
        EXPECT_EQ(ScreenCursor(a).shape() == Qt::BlankCursor, a == crNone)
            << a << ": only crNone hides the pointer";
        for (int b : kBuiltInNumbers) {
            if (a < b) {
                EXPECT_EQ(ScreenCursor(a).shape() == ScreenCursor(b).shape(), sameByName(a, b))
                    << a << " and " << b;
            }
        }
    }
}

TEST(ScreenCursors, UnregisteredNumberFallsBackToTheArrow) {
    EXPECT_EQ(ScreenCursor(4711).shape(), Qt::ArrowCursor);
}

TEST(ScreenCursors, RegisteringReplacesTheEntryAndNoOther) {
    const Qt::CursorShape hourGlass = ScreenCursor(crHourGlass).shape();
    QPixmap image(32, 32);
    image.fill(Qt::black);
    SetScreenCursor(77, QCursor(image, 5, 0));
    const QCursor registered = ScreenCursor(77);
    EXPECT_EQ(registered.shape(), Qt::BitmapCursor);
    EXPECT_EQ(registered.hotSpot(), QPoint(5, 0));

    SetScreenCursor(77, QCursor(Qt::CrossCursor));
    EXPECT_EQ(ScreenCursor(77).shape(), Qt::CrossCursor);
    EXPECT_EQ(ScreenCursor(78).shape(), Qt::ArrowCursor);
    EXPECT_EQ(ScreenCursor(crHourGlass).shape(), hourGlass);
}

} // namespace kp::test
